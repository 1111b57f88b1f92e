#include "gui/sent_records_pane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "delivery/delivery_run.h"
#include "gui/gbk.h"
#include "gui/gui_context.h"
#include "gui/message_box.h"
#include "gui/record_list_model.h"
#include "gui/store_controls.h"
#include "gui/ui_queue.h"
#include "store/inventory_commands.h"
#include "web/login_session.h"

namespace torvane {

SentRecordsPane::SentRecordsPane(GuiContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setObjectName(QStringLiteral("SentRecordsPane"));
  BuildControls();
  connect(&context_, &GuiContext::storeWorkChanged, this, [this](bool running) {
    // The commands would wait for the write with the window frozen.
    for (QWidget* control : findChildren<QPushButton*>()) control->setEnabled(!running && !(control == resend_ && resending_));
    tickAll_->setEnabled(!running);
    // Enter in the query box is a query like the button's.
    queryText_->setEnabled(!running);
    if (running) {
      model_->PauseReads();
    } else {
      model_->ResumeReads();
    }
  });
}

void SentRecordsPane::BuildControls() {
  queryField_ = Named(new QComboBox(this), u"组合框_查询");
  queryField_->addItems({QStringLiteral(u"订单编号"), QStringLiteral(u"客户旺旺")});
  queryField_->setCurrentIndex(0);
  auto* queryCaption = Named(new QLabel(QStringLiteral(u"查询："), this), u"标签_查询");
  queryText_ = Named(new QLineEdit(this), u"编辑框_查询");
  auto* query = Named(new QPushButton(QStringLiteral(u"查询"), this), u"按钮_查询");

  model_ = new RecordListModel(context_.stores, context_.stores ? &context_.stores->Sent() : nullptr,
                               {QStringLiteral(u"宝贝名称"), QStringLiteral(u"订单编号"), QStringLiteral(u"客户旺旺"),
                                QStringLiteral(u"数量"), QStringLiteral(u"所发卡号"), QStringLiteral(u"所发卡密"),
                                QStringLiteral(u"所发备注"), QStringLiteral(u"发货方式"), QStringLiteral(u"发货时间"),
                                QStringLiteral(u"交付时间"), QStringLiteral(u"交付渠道")},
                               this);
  list_ = MakeRecordTable(this, model_, {140, 110, 80, 40, 100, 120, 90, 70, 130, 130});

  // The days whose hand-overs a date query lists; the last 30 days at first.
  auto* datesCaption = Named(new QLabel(QStringLiteral(u"交付日期："), this), u"标签_交付日期");
  fromDate_ = Named(new QDateEdit(QDate::currentDate().addDays(-29), this), u"编辑框_开始日期");
  toDate_ = Named(new QDateEdit(QDate::currentDate(), this), u"编辑框_结束日期");
  for (QDateEdit* edit : {fromDate_, toDate_}) {
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  }
  auto* dateQuery = Named(new QPushButton(QStringLiteral(u"按日期查询"), this), u"按钮_按日期查询");

  failure_ = MakeFailureLabel(this);

  tickAll_ = Named(new QCheckBox(QStringLiteral(u"全选/反选"), this), u"选择框_全选反选");
  auto* remove = Named(new QPushButton(QStringLiteral(u"删除"), this), u"按钮_删除");
  resend_ = Named(new QPushButton(QStringLiteral(u"重新发送"), this), u"按钮_重新发送");
  resend_->setToolTip(QStringLiteral(u"打钩的发送失败记录：原卡密按订单原来的方式重新发送，不另取新卡密"));
  auto* detailCaption = Named(new QLabel(QStringLiteral(u"具体信息："), this), u"标签_具体信息");
  detail_ = Named(new QLineEdit(this), u"编辑框_信息");

  auto* top = new QHBoxLayout;
  top->addWidget(queryField_);
  top->addWidget(queryCaption);
  top->addWidget(queryText_, 1);
  top->addWidget(query);
  // The date range on a row of its own: beside it the query box had no room left for an order number.
  auto* dates = new QHBoxLayout;
  dates->addWidget(datesCaption);
  dates->addWidget(fromDate_);
  dates->addWidget(new QLabel(QStringLiteral(u"至"), this));
  dates->addWidget(toDate_);
  dates->addWidget(dateQuery);
  dates->addStretch(1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(tickAll_);
  bottom->addWidget(remove);
  bottom->addWidget(resend_);
  bottom->addSpacing(12);
  bottom->addWidget(detailCaption);
  bottom->addWidget(detail_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(dates);
  layout->addWidget(failure_);
  layout->addWidget(list_, 1);
  layout->addLayout(bottom);

  connect(query, &QPushButton::clicked, this, &SentRecordsPane::Query);
  connect(queryText_, &QLineEdit::returnPressed, this, &SentRecordsPane::Query);
  connect(dateQuery, &QPushButton::clicked, this, &SentRecordsPane::QueryDates);
  connect(remove, &QPushButton::clicked, this, &SentRecordsPane::DeleteTicked);
  connect(resend_, &QPushButton::clicked, this, &SentRecordsPane::ResendTicked);
  connect(tickAll_, &QCheckBox::clicked, this, [this](bool on) { model_->TickAll(on); });
  connect(list_, &QTableView::clicked, this, &SentRecordsPane::ShowCell);
  connect(model_, &RecordListModel::readFailed, this, &SentRecordsPane::ShowStoreFailure);
}

void SentRecordsPane::FillSentList(int mode, const std::string& text) {
  std::size_t position = 0;
  if (mode != 0) position = queryField_->currentIndex() == 0 ? 2 : 3;
  const bool read = model_->Fill(position, text);
  tickAll_->setChecked(false);
  ShowFilled(read);
}

void SentRecordsPane::RefreshStoreView() {
  QScrollBar* scroll = list_->verticalScrollBar();
  const int at = scroll->value();
  const bool read = model_->Refresh(0, {});
  ShowFilled(read);
  if (read) scroll->setValue(at);
}

void SentRecordsPane::ShowFilled(bool read) {
  if (!read) {
    ShowStoreFailure(model_->Error());
    return;
  }
  failure_->setVisible(false);
}

void SentRecordsPane::ShowStoreFailure(const QString& reason) {
  failure_->setText(QStringLiteral(u"已发卡密库读取失败: ") + reason);
  failure_->setVisible(true);
}

void SentRecordsPane::Query() {
  // A long store write holds the stores: the query waits for it like the buttons do.
  if (context_.StoreWorkRunning()) return;
  // A text GBK cannot hold matches no record: said so rather than searched with a substitute.
  if (const auto text = ExactText(this, queryText_->text(), "查询内容")) FillSentList(1, *text);
}

void SentRecordsPane::QueryDates() {
  if (context_.StoreWorkRunning()) return;
  const QDate from = fromDate_->date();
  const QDate to = toDate_->date();
  if (from > to) {
    MessageBox::Inform(this, QStringLiteral(u"开始日期不能晚于结束日期"));
    return;
  }
  // 交付时间 reads "YYYY-MM-DD HH:MM:SS": every time of the last day is below the next day's date.
  const QString format = QStringLiteral("yyyy-MM-dd");
  const bool read = model_->FillBetween(10, from.toString(format).toStdString(),
                                        to.addDays(1).toString(format).toStdString());
  tickAll_->setChecked(false);
  ShowFilled(read);
}

void SentRecordsPane::ShowCell(const QModelIndex& index) {
  detail_->setText(index.isValid() ? index.data(Qt::DisplayRole).toString() : QString());
}

void SentRecordsPane::DeleteTicked() {
  if (!context_.stores) return;
  const std::vector<RecordNumber> rows = model_->TickedNumbers();
  // Nothing ticked, or a record that must stay: said before any confirmation.
  const CommandOutcome refusal = DeleteSentRecords(*context_.stores, rows, false);
  if (rows.empty() || !refusal.message.empty()) {
    ShowOutcome(this, refusal);
    return;
  }
  const bool confirmed = MessageBox::Confirm(this, FromGbk(DeleteConfirmText(rows.size())));
  ShowOutcome(this, DeleteSentRecords(*context_.stores, rows, confirmed));
  FillSentList(0);
}

void SentRecordsPane::ResendTicked() {
  if (resending_ || !context_.stores) return;
  const std::vector<RecordNumber> ticked = model_->TickedNumbers();
  if (ticked.empty()) {
    MessageBox::Inform(this, QStringLiteral(u"未选择记录，不能重新发送"));
    return;
  }
  // The ticked records at "发送失败" and their orders, in list order, each order once.
  RecordStore& sent = context_.stores->Sent();
  std::optional<std::vector<RecordNumber>> failed = sent.SelectNumbers(8, std::string(kStatusSendFailed));
  std::vector<RecordNumber> chosen;
  if (failed) std::set_intersection(ticked.begin(), ticked.end(), failed->begin(), failed->end(), std::back_inserter(chosen));
  auto records = failed ? sent.ReadRecords(chosen) : std::nullopt;
  if (!records) {
    MessageBox::Fail(this, FromGbk("重新发送失败: " + LastStoreError()));
    return;
  }
  std::vector<std::string> orders;
  for (const auto& record : *records) {
    if (record && std::find(orders.begin(), orders.end(), (*record)[1]) == orders.end()) orders.push_back((*record)[1]);
  }
  if (orders.empty()) {
    MessageBox::Inform(this, QStringLiteral(u"打钩的记录中没有发送失败的记录，不能重新发送"));
    return;
  }
  std::string question = "真的重新发送吗？ 总共：" + std::to_string(orders.size()) + "个订单\r\n";
  for (std::size_t i = 0; i < orders.size() && i < 10; ++i) question += "订单编号:[" + orders[i] + "]\r\n";
  if (orders.size() > 10) question += "……\r\n";
  question += "原卡密按订单原来的方式重新发送，不另取新卡密";
  if (!MessageBox::Confirm(this, FromGbk(question))) return;
  DeliveryEngine* engine = context_.engine;
  if (!engine) {
    MessageBox::Fail(this, QStringLiteral(u"重新发送失败: 发货功能未就绪"));
    return;
  }

  resending_ = true;
  resend_->setEnabled(false);
  GuiContext* context = &context_;
  const Deployment deployment = context_.deployment;
  QPointer<SentRecordsPane> self(this);
  const bool started = context_.RunOnWorker([engine, deployment, orders, context, self] {
    // The consign form needs the session's token, whether or not delivery was switched on. Read for
    // this resend only: a failed read must not touch the token a delivery pass is using.
    const LoginRead login = ReadLoginSession(deployment);
    const std::string token = login.formToken.empty() ? FormToken() : login.formToken;
    std::string lines;
    if (!login.failure.empty()) {
      const std::string line = "登录检查失败 请检查网络或重新登录淘宝: " + login.failure;
      if (context->log) context->log->LogActivity(line);
      lines += line + "\r\n";
    }
    bool allWell = true;
    for (const std::string& order : orders) {
      // The program is ending: the orders not yet resent stay at "发送失败".
      if (engine->StopRequested()) {
        lines += "收到退出请求 其余订单未重新发送\r\n";
        allWell = false;
        break;
      }
      const ResendResult result = engine->ResendOrder(order, {}, &token);
      for (const std::string& line : result.lines) lines += line + "\r\n";
      allWell = allWell && result.Done();
    }
    PostToUi(context, [self, lines, allWell] {
      if (!self) return;
      self->resending_ = false;
      self->resend_->setEnabled(true);
      const QString text = FromGbk(lines);
      if (allWell) {
        MessageBox::Inform(self, text);
      } else {
        MessageBox::Fail(self, text);
      }
      self->RefreshStoreView();
      emit self->resendFinished(allWell);
    });
  });
  if (!started) {
    resending_ = false;
    resend_->setEnabled(true);
    MessageBox::Fail(this, QStringLiteral(u"重新发送失败: 无法启动工作线程"));
  }
}

}  // namespace torvane
