#include "gui/settings_pane.h"

#include <QApplication>
#include <array>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "delivery/scheduler.h"
#include "gui/gbk.h"
#include "gui/gui_context.h"
#include "gui/message_box.h"
#include "gui/open_address.h"
#include "notify/test_buttons.h"

namespace torvane {

namespace {

// The scan-period items in the order of the drop-down list.
const char16_t* const kPeriodItems[] = {u"1分钟", u"2分钟", u"5分钟", u"30秒"};

template <typename W>
W* Named(W* widget, const char16_t* name) {
  widget->setObjectName(QString::fromUtf16(name));
  return widget;
}

QGroupBox* Group(const char16_t* name, const char16_t* caption, QWidget* parent) {
  return Named(new QGroupBox(QString::fromUtf16(caption), parent), name);
}

QLabel* Label(const char16_t* name, const char16_t* caption, QWidget* parent) {
  return Named(new QLabel(caption ? QString::fromUtf16(caption) : QString(), parent), name);
}

QPushButton* Button(const char16_t* name, const char16_t* caption, QWidget* parent) {
  return Named(new QPushButton(QString::fromUtf16(caption), parent), name);
}

QCheckBox* Check(const char16_t* name, const char16_t* caption, QWidget* parent) {
  return Named(new QCheckBox(QString::fromUtf16(caption), parent), name);
}

QRadioButton* Radio(const char16_t* name, const char16_t* caption, QWidget* parent) {
  return Named(new QRadioButton(QString::fromUtf16(caption), parent), name);
}

QLineEdit* Edit(const char16_t* name, const char16_t* placeholder, QWidget* parent) {
  auto* edit = Named(new QLineEdit(parent), name);
  if (placeholder) edit->setPlaceholderText(QString::fromUtf16(placeholder));
  return edit;
}

// A group of the four ways of telling the seller (software, SMS, mail, group robot), one under the other;
// names are the boxes' object names, boxes where they go.
QGroupBox* NoticeGroup(const char16_t* name, const char16_t* caption, const std::array<const char16_t*, 4>& names,
                       QWidget* parent, const std::array<QCheckBox**, 4>& boxes) {
  auto* group = Group(name, caption, parent);
  const char16_t* const captions[] = {u"采用软件提示通知", u"手机短信通知(免费)", u"采用邮箱提示通知", u"群机器人通知"};
  auto* layout = new QVBoxLayout(group);
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    *boxes[i] = Check(names[i], captions[i], group);
    layout->addWidget(*boxes[i]);
  }
  return group;
}

// While a test button's exchange blocks the window, the cursor says so.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

SettingsPane::SettingsPane(GuiContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setObjectName(QStringLiteral("SettingsPane"));
  BuildControls();
  ConnectHandlers();
  LoadFromFile();
}

void SettingsPane::BuildControls() {
  auto* shop = Group(u"分组框_店铺设置", u"店铺设置", this);
  period_ = Named(new QComboBox(shop), u"组合框_扫描时间");
  for (const char16_t* item : kPeriodItems) period_->addItem(QString::fromUtf16(item));
  login_ = Button(u"按钮_登录失败点我", u"登陆淘宝", shop);
  auto* shopLayout = new QHBoxLayout(shop);
  shopLayout->addWidget(Label(u"标签_订单扫描周期时间", u"订单扫描周期时间：", shop));
  shopLayout->addWidget(period_);
  shopLayout->addStretch();
  shopLayout->addWidget(login_);

  auto* notices = Group(u"分组框_通知设置", u"通知设置", this);
  smsSettings_ = Button(u"按钮_短信设置", u"短信通知设置", notices);
  mailSettings_ = Button(u"按钮_邮箱设置", u"邮箱通知设置", notices);
  robotSettings_ = Button(u"按钮_群机器人设置", u"群机器人通知设置", notices);
  auto* noticesLayout = new QHBoxLayout(notices);
  noticesLayout->addWidget(smsSettings_);
  noticesLayout->addWidget(mailSettings_);
  noticesLayout->addWidget(robotSettings_);

  // The delivery-method group and the three hidden groups share one place; a shown group covers the methods.
  auto* place = new QWidget(this);
  auto* placeLayout = new QGridLayout(place);
  placeLayout->setContentsMargins(0, 0, 0, 0);

  auto* method = Group(u"分组框_发货设置", u"发货方式", place);
  byChat_ = Radio(u"单选框_旺旺发货", u"旺旺发货(需旺旺)", method);
  byMail_ = Radio(u"单选框_邮箱发货", u"邮箱方式发货", method);
  empty_ = Radio(u"单选框_空发货", u"空发货(刷虚拟信誉)", method);
  auto* methodLayout = new QVBoxLayout(method);
  methodLayout->addWidget(byChat_);
  methodLayout->addWidget(byMail_);
  methodLayout->addWidget(empty_);
  methodLayout->addStretch();

  smsGroup_ = Group(u"分组框_手机设置", u"短信通知设置", place);
  smsAccount_ = Edit(u"编辑框_飞信账号", nullptr, smsGroup_);
  smsPassword_ = Edit(u"编辑框_飞信密码", nullptr, smsGroup_);
  smsPassword_->setEchoMode(QLineEdit::Password);
  smsTest_ = Button(u"按钮_短信测试", u"测试", smsGroup_);
  smsConfirm_ = Button(u"按钮_手机确认", u"确认", smsGroup_);
  auto* smsHint = Label(u"标签_飞信提示", u"免费短信通知需移动手机开通飞信，飞信完全免费", smsGroup_);
  smsHint->setWordWrap(true);
  auto* register_ = Label(u"超级链接框_开通飞信", nullptr, smsGroup_);
  register_->setText(QStringLiteral(u"<a href=\"register\">免费开通飞信</a>"));
  connect(register_, &QLabel::linkActivated, this,
          [this] { OpenAddress(FromGbk(context_.deployment.imRegistrationPage)); });
  auto* smsLayout = new QGridLayout(smsGroup_);
  smsLayout->addWidget(Label(u"标签_飞信账号", u"手机号码：", smsGroup_), 0, 0);
  smsLayout->addWidget(smsAccount_, 0, 1);
  smsLayout->addWidget(smsTest_, 0, 2);
  smsLayout->addWidget(Label(u"标签_飞信密码", u"飞信密码：", smsGroup_), 1, 0);
  smsLayout->addWidget(smsPassword_, 1, 1);
  smsLayout->addWidget(smsConfirm_, 1, 2);
  smsLayout->addWidget(smsHint, 2, 0, 1, 2);
  smsLayout->addWidget(register_, 2, 2);

  mailGroup_ = Group(u"分组框_邮箱设置", u"邮箱通知设置", place);
  mailbox_ = Edit(u"编辑框_收信邮箱", nullptr, mailGroup_);
  mailTest_ = Button(u"按钮_发信测试", u"测试", mailGroup_);
  mailConfirm_ = Button(u"按钮_邮箱确认", u"确认", mailGroup_);
  auto* mailHint = Label(u"标签_邮箱提示", u"建议使用QQ邮箱，邮件到达时，QQ会出现弹窗提示", mailGroup_);
  mailHint->setWordWrap(true);
  auto* mailLayout = new QGridLayout(mailGroup_);
  mailLayout->addWidget(Label(u"标签_收信邮箱", u"收信邮箱：", mailGroup_), 0, 0);
  mailLayout->addWidget(mailbox_, 0, 1);
  mailLayout->addWidget(mailTest_, 0, 2);
  mailLayout->addWidget(mailConfirm_, 1, 2);
  mailLayout->addWidget(mailHint, 2, 0, 1, 3);

  robotGroup_ = Group(u"分组框_群机器人设置", u"群机器人通知设置", place);
  robotAddress_ = Edit(u"编辑框_群机器人地址", u"https://", robotGroup_);
  robotTest_ = Button(u"按钮_群机器人测试", u"测试", robotGroup_);
  robotConfirm_ = Button(u"按钮_群机器人确认", u"确认", robotGroup_);
  auto* robotHint = Label(u"标签_群机器人提示", u"在群聊中添加机器人，把它的Webhook地址填在这里，通知会发到群里", robotGroup_);
  robotHint->setWordWrap(true);
  auto* robotLayout = new QGridLayout(robotGroup_);
  robotLayout->addWidget(Label(u"标签_群机器人地址", u"机器人地址：", robotGroup_), 0, 0);
  robotLayout->addWidget(robotAddress_, 0, 1);
  robotLayout->addWidget(robotTest_, 0, 2);
  robotLayout->addWidget(robotConfirm_, 1, 2);
  robotLayout->addWidget(robotHint, 2, 0, 1, 3);

  for (QGroupBox* overlay : {smsGroup_, mailGroup_, robotGroup_}) {
    overlay->setAutoFillBackground(true);
    overlay->hide();
  }
  placeLayout->addWidget(method, 0, 0);
  placeLayout->addWidget(smsGroup_, 0, 0);
  placeLayout->addWidget(mailGroup_, 0, 0);
  placeLayout->addWidget(robotGroup_, 0, 0);

  auto* outOfStock = NoticeGroup(u"分组框_无货通知自己", u"无货通知自己",
                                 {u"选择框_无货软件通知", u"选择框_无货手机通知", u"选择框_无货邮箱通知",
                                  u"选择框_无货群机器人通知"},
                                 this, {&outOfStockSoftware_, &outOfStockSms_, &outOfStockMail_, &outOfStockRobot_});
  auto* delivered = NoticeGroup(u"分组框_发货通知自己", u"发货通知自己",
                                {u"选择框_发货软件通知", u"选择框_发货手机通知", u"选择框_发货邮箱通知",
                                 u"选择框_发货群机器人通知"},
                                this, {&deliveredSoftware_, &deliveredSms_, &deliveredMail_, &deliveredRobot_});

  auto* other = Group(u"分组框_其他设置", u"其他设置", this);
  autoRate_ = Check(u"选择框_开启自动评价", u"开启自动评价", other);
  rateText_ = Edit(u"编辑框_评价", u"这里输入评价语", other);
  signatureOn_ = Check(u"选择框_开启发货签名", u"开启发货签名", other);
  signature_ = Edit(u"编辑框_签名", u"这里输入签名", other);
  auto* otherLayout = new QGridLayout(other);
  otherLayout->addWidget(autoRate_, 0, 0);
  otherLayout->addWidget(rateText_, 0, 1);
  otherLayout->addWidget(signatureOn_, 1, 0);
  otherLayout->addWidget(signature_, 1, 1);

  switchOn_ = Button(u"按钮_自动发货开启", u"自动发货开启", this);
  switchOff_ = Button(u"按钮_自动发货关闭", u"自动发货关闭", this);
  for (QPushButton* b : {switchOn_, switchOff_}) b->setMinimumHeight(36);
  switchOn_->setStyleSheet(QStringLiteral("QPushButton { background: #2a9b5a; color: white; font-weight: bold; "
                                          "border-radius: 4px; padding: 0 18px; }"));
  switchOff_->setStyleSheet(QStringLiteral("QPushButton { background: #c0463b; color: white; font-weight: bold; "
                                           "border-radius: 4px; padding: 0 18px; }"));

  auto* grid = new QGridLayout(this);
  grid->addWidget(shop, 0, 0, 1, 2);
  grid->addWidget(notices, 0, 2);
  grid->addWidget(place, 1, 0);
  grid->addWidget(outOfStock, 1, 1);
  grid->addWidget(delivered, 1, 2);
  grid->addWidget(other, 2, 0, 1, 3);
  auto* switches = new QHBoxLayout;
  switches->addStretch();
  switches->addWidget(switchOn_);
  switches->addWidget(switchOff_);
  grid->addLayout(switches, 3, 0, 1, 3);
  grid->setRowStretch(4, 1);
}

void SettingsPane::ConnectHandlers() {
  connect(smsSettings_, &QPushButton::clicked, this, [this] { ToggleGroup(smsGroup_); });
  connect(mailSettings_, &QPushButton::clicked, this, [this] { ToggleGroup(mailGroup_); });
  connect(robotSettings_, &QPushButton::clicked, this, [this] { ToggleGroup(robotGroup_); });
  connect(smsConfirm_, &QPushButton::clicked, smsGroup_, &QWidget::hide);
  connect(mailConfirm_, &QPushButton::clicked, mailGroup_, &QWidget::hide);
  connect(robotConfirm_, &QPushButton::clicked, robotGroup_, &QWidget::hide);
  connect(smsTest_, &QPushButton::clicked, this, &SettingsPane::TestSms);
  connect(mailTest_, &QPushButton::clicked, this, &SettingsPane::TestMail);
  connect(robotTest_, &QPushButton::clicked, this, &SettingsPane::TestRobot);
  connect(login_, &QPushButton::clicked, this, &SettingsPane::loginRequested);
  connect(switchOn_, &QPushButton::clicked, this, [this] { SwitchDeliveryOn(); });
  connect(switchOff_, &QPushButton::clicked, this, &SettingsPane::SwitchDeliveryOff);

  // Every change reaches the snapshot that workers read.
  connect(period_, &QComboBox::currentIndexChanged, this, &SettingsPane::UpdateSnapshot);
  for (QLineEdit* edit : {smsAccount_, smsPassword_, mailbox_, rateText_, signature_, robotAddress_}) {
    connect(edit, &QLineEdit::textChanged, this, &SettingsPane::UpdateSnapshot);
  }
  for (QAbstractButton* box : std::initializer_list<QAbstractButton*>{
           byChat_, byMail_, empty_, outOfStockSoftware_, outOfStockSms_, outOfStockMail_, deliveredSoftware_,
           deliveredSms_, deliveredMail_, autoRate_, signatureOn_, outOfStockRobot_, deliveredRobot_}) {
    connect(box, &QAbstractButton::toggled, this, &SettingsPane::UpdateSnapshot);
  }
}

void SettingsPane::ToggleGroup(QGroupBox* group) {
  if (!group->isHidden()) {
    group->hide();
    return;
  }
  for (QGroupBox* other : {smsGroup_, mailGroup_, robotGroup_}) {
    if (other != group) other->hide();
  }
  group->show();
  group->raise();
}

Settings SettingsPane::ControlValues() const {
  Settings s;
  s.scanPeriod = ToGbk(period_->currentText());
  s.noticeMailbox = ToGbk(mailbox_->text());
  s.smsAccount = ToGbk(smsAccount_->text());
  s.smsPassword = ToGbk(smsPassword_->text());
  s.deliverByChat = byChat_->isChecked();
  s.deliverByMail = byMail_->isChecked();
  s.deliverEmpty = empty_->isChecked();
  s.outOfStockSoftware = outOfStockSoftware_->isChecked();
  s.outOfStockSms = outOfStockSms_->isChecked();
  s.outOfStockMail = outOfStockMail_->isChecked();
  s.deliveredSoftware = deliveredSoftware_->isChecked();
  s.deliveredSms = deliveredSms_->isChecked();
  s.deliveredMail = deliveredMail_->isChecked();
  s.autoRate = autoRate_->isChecked();
  s.rateText = ToGbk(rateText_->text());
  s.signatureOn = signatureOn_->isChecked();
  s.signature = ToGbk(signature_->text());
  s.robotAddress = ToGbk(robotAddress_->text());
  s.outOfStockRobot = outOfStockRobot_->isChecked();
  s.deliveredRobot = deliveredRobot_->isChecked();
  return s;
}

void SettingsPane::FillControls(const Settings& s) {
  const int index = period_->findText(FromGbk(s.scanPeriod));
  if (index >= 0) period_->setCurrentIndex(index);
  mailbox_->setText(FromGbk(s.noticeMailbox));
  smsAccount_->setText(FromGbk(s.smsAccount));
  smsPassword_->setText(FromGbk(s.smsPassword));
  byChat_->setChecked(s.deliverByChat);
  byMail_->setChecked(s.deliverByMail);
  empty_->setChecked(s.deliverEmpty);
  outOfStockSoftware_->setChecked(s.outOfStockSoftware);
  outOfStockSms_->setChecked(s.outOfStockSms);
  outOfStockMail_->setChecked(s.outOfStockMail);
  deliveredSoftware_->setChecked(s.deliveredSoftware);
  deliveredSms_->setChecked(s.deliveredSms);
  deliveredMail_->setChecked(s.deliveredMail);
  autoRate_->setChecked(s.autoRate);
  rateText_->setText(FromGbk(s.rateText));
  signatureOn_->setChecked(s.signatureOn);
  signature_->setText(FromGbk(s.signature));
  robotAddress_->setText(FromGbk(s.robotAddress));
  outOfStockRobot_->setChecked(s.outOfStockRobot);
  deliveredRobot_->setChecked(s.deliveredRobot);
}

void SettingsPane::LoadFromFile() {
  std::string note;
  FillControls(LoadSettings(SettingsPath(context_.configDir), &note));
  UpdateSnapshot();
  if (!note.empty()) context_.log->LogActivity(note);
  context_.log->LogActivity("程序启动完成");
}

void SettingsPane::UpdateSnapshot() { context_.settings.Replace(ControlValues()); }

bool SettingsPane::SwitchDeliveryOn() {
  std::string error, note;
  if (!SaveSettings(SettingsPath(context_.configDir), ControlValues(), &error, &note)) {
    MessageBox::Fail(this, QStringLiteral(u"设置无法保存 自动发货未开启\n") + FromGbk(error));
    return false;
  }
  if (!note.empty()) context_.log->LogActivity(note);
  const int index = period_->currentIndex();
  const int periodMs = index >= 0 && index < 4 ? ScanPeriodMs(ToGbk(period_->itemText(index))) : 0;
  if (context_.scheduler) context_.scheduler->SwitchDeliveryOn(periodMs);
  return true;
}

void SettingsPane::SwitchDeliveryOff() {
  if (context_.scheduler) context_.scheduler->SwitchDeliveryOff();
}

void SettingsPane::TestSms() {
  std::string answer;
  {
    BusyCursor busy;
    answer = SendTestSms(ControlValues(), context_.deployment);
  }
  MessageBox::Inform(this, FromGbk(answer));
}

void SettingsPane::TestMail() {
  if (!context_.mail) return;
  std::string answer;
  {
    BusyCursor busy;
    answer = SendTestMail(ControlValues(), *context_.mail);
  }
  MessageBox::Inform(this, FromGbk(answer));
}

void SettingsPane::TestRobot() {
  std::string answer;
  {
    BusyCursor busy;
    answer = SendTestRobot(ControlValues());
  }
  MessageBox::Inform(this, FromGbk(answer));
}

}  // namespace torvane
