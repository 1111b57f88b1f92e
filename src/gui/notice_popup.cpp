#include "gui/notice_popup.h"

#include <QGuiApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <set>

namespace torvane {

namespace {
// Places taken by live pop-ups.
std::set<int>& TakenSlots() {
  static std::set<int> taken;
  return taken;
}
}  // namespace

NoticePopup* NoticePopup::ShowNoticePopup(const QString& text) {
  auto* popup = new NoticePopup(text);
  popup->show();
  return popup;
}

NoticePopup::NoticePopup(const QString& text)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus) {
  setObjectName(QStringLiteral("NoticePopup"));
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFixedSize(kWidth, kHeight);
  setAutoFillBackground(true);
  setStyleSheet(QStringLiteral("#NoticePopup { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fff7ea, "
                               "stop:1 #ffe2bf); border: 2px solid #f0642a; }"));
  label_ = new QLabel(text, this);
  label_->setObjectName(QStringLiteral(u"标签_提示"));
  label_->setGeometry(24, 25, 192, 89);
  label_->setWordWrap(true);
  label_->setAlignment(Qt::AlignCenter);
  label_->setStyleSheet(QStringLiteral("color: #1f3b46; font-size: 14px;"));

  while (TakenSlots().count(slot_)) ++slot_;
  TakenSlots().insert(slot_);

  // The whole primary screen, not the work area: resting, the pop-up covers a bottom task bar.
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  targetTop_ = screen.y() + screen.height() - kHeight * (slot_ + 1);
  move(screen.x() + screen.width() - kWidth, screen.y() + screen.height());

  slide_ = new QTimer(this);
  slide_->setObjectName(QStringLiteral(u"时钟_弹出效果"));
  slide_->setInterval(1);
  connect(slide_, &QTimer::timeout, this, &NoticePopup::Step);
  slide_->start();
  expire_ = new QTimer(this);
  expire_->setObjectName(QStringLiteral(u"时钟_自动退出"));
  expire_->setSingleShot(true);
  expire_->setInterval(10000);
  connect(expire_, &QTimer::timeout, this, &QWidget::close);
  expire_->start();
}

NoticePopup::~NoticePopup() { ReleaseSlot(); }

// A closed pop-up gives its place up at once, before its deferred deletion.
void NoticePopup::closeEvent(QCloseEvent* event) {
  ReleaseSlot();
  QWidget::closeEvent(event);
}

void NoticePopup::ReleaseSlot() {
  if (!holdsSlot_) return;
  holdsSlot_ = false;
  TakenSlots().erase(slot_);
}

void NoticePopup::Step() {
  if (y() > targetTop_) {
    move(x(), std::max(targetTop_, y() - 2));
  } else {
    slide_->stop();
  }
}

}  // namespace torvane
