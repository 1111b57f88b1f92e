#include "gui/release_notes_window.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "app/version.h"

namespace torvane {

ReleaseNotesWindow::ReleaseNotesWindow(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ReleaseNotesWindow"));
  setWindowTitle(QString::fromLatin1(kProgramVersion) + QStringLiteral(u"更新内容"));
  setWindowIcon(QIcon(QStringLiteral(":/torvane/logo.svg")));
  setFixedSize(398, 261);

  group_ = new QGroupBox(QStringLiteral(u"更新导语"), this);
  group_->setObjectName(QStringLiteral(u"分组框_导语"));
  group_->setGeometry(13, 10, 365, 206);
  notes_ = new QLabel(QStringLiteral(u"1.8版本：全新的窗口与托盘；卡密库存百万张也能即开即看；"
                                     u"发货记录可按订单或买家查询；同一数据目录只允许运行一个程序，"
                                     u"杜绝重复发卡。"),
                      group_);
  notes_->setObjectName(QStringLiteral(u"标签_前言"));
  notes_->setGeometry(8, 18, 348, 68);
  notes_->setWordWrap(true);
  hint_ = new QLabel(QStringLiteral(u"(旧版本只需将 库存卡密.edb 宝贝名称.txt 已发卡密.edb 替换到新版本即可完成库存转移)"),
                     group_);
  hint_->setObjectName(QStringLiteral(u"标签_前言1"));
  hint_->setGeometry(9, 98, 348, 40);
  hint_->setWordWrap(true);

  yes_ = new QPushButton(QStringLiteral(u"是"), this);
  yes_->setObjectName(QStringLiteral(u"按钮_是"));
  yes_->setGeometry(107, 158, 70, 27);
  no_ = new QPushButton(QStringLiteral(u"否"), this);
  no_->setObjectName(QStringLiteral(u"按钮_否"));
  no_->setGeometry(219, 158, 70, 27);
  confirm_ = new QPushButton(QStringLiteral(u"确认"), this);
  confirm_->setObjectName(QStringLiteral(u"按钮_确认"));
  confirm_->setGeometry(279, 172, 70, 27);
  yes_->hide();
  no_->hide();
  // The buttons stand over the group box.
  for (QPushButton* b : {yes_, no_, confirm_}) b->raise();

  auto choose = [this](auto signal) {
    return [this, signal] {
      chosen_ = true;
      emit(this->*signal)();
    };
  };
  connect(confirm_, &QPushButton::clicked, this, choose(&ReleaseNotesWindow::dismissed));
  connect(no_, &QPushButton::clicked, this, choose(&ReleaseNotesWindow::dismissed));
  connect(yes_, &QPushButton::clicked, this, choose(&ReleaseNotesWindow::updateChosen));
}

void ReleaseNotesWindow::ShowNewVersion() {
  newVersion_ = true;
  hint_->hide();
  notes_->setText(QStringLiteral("\r\n\r\n\r\n") + QStringLiteral(u"发现新版本 是否进行更新"));
  notes_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  notes_->setStyleSheet(QStringLiteral("color: #ff0000;"));
  yes_->show();
  no_->show();
  confirm_->hide();
}

void ReleaseNotesWindow::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (!chosen_) emit closedWithoutChoice();
}

}  // namespace torvane
