// The "程序配置" pane: every setting of the seller, the notice test buttons, the login window's
// button and the switches of automatic delivery. The controls hold the settings; workers read them
// through the context's snapshot, which follows every change of a control.
#pragma once

#include <QWidget>

#include "base/settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace torvane {

class GuiContext;

class SettingsPane : public QWidget {
  Q_OBJECT

 public:
  // Builds the controls and loads the settings file into them; logs "程序启动完成".
  explicit SettingsPane(GuiContext& context, QWidget* parent = nullptr);

  // The controls' values as settings (texts as shown, not trimmed).
  Settings ControlValues() const;

  // 按钮_自动发货开启: saves the settings, arms the scan timer with the chosen period and switches
  // delivery on. A save the settings file refuses is shown in a box and delivery stays as it was: false.
  bool SwitchDeliveryOn();
  // 按钮_自动发货关闭.
  void SwitchDeliveryOff();

 signals:
  // 按钮_登录失败点我: the login window is wanted.
  void loginRequested();

 private:
  void BuildControls();
  void ConnectHandlers();
  void LoadFromFile();
  void FillControls(const Settings& settings);
  void UpdateSnapshot();
  // Shows the group over the delivery methods, hiding the other settings groups; hides it when shown.
  void ToggleGroup(QGroupBox* group);
  void TestSms();
  void TestMail();
  void TestRobot();

  GuiContext& context_;
  QComboBox* period_ = nullptr;
  QPushButton* login_ = nullptr;
  QPushButton* smsSettings_ = nullptr;
  QPushButton* mailSettings_ = nullptr;
  QPushButton* robotSettings_ = nullptr;
  QRadioButton* byChat_ = nullptr;
  QRadioButton* byMail_ = nullptr;
  QRadioButton* empty_ = nullptr;
  QCheckBox* outOfStockSoftware_ = nullptr;
  QCheckBox* outOfStockSms_ = nullptr;
  QCheckBox* outOfStockMail_ = nullptr;
  QCheckBox* outOfStockRobot_ = nullptr;
  QCheckBox* deliveredSoftware_ = nullptr;
  QCheckBox* deliveredSms_ = nullptr;
  QCheckBox* deliveredMail_ = nullptr;
  QCheckBox* deliveredRobot_ = nullptr;
  QCheckBox* autoRate_ = nullptr;
  QLineEdit* rateText_ = nullptr;
  QCheckBox* signatureOn_ = nullptr;
  QLineEdit* signature_ = nullptr;
  QGroupBox* smsGroup_ = nullptr;
  QLineEdit* smsAccount_ = nullptr;
  QLineEdit* smsPassword_ = nullptr;
  QPushButton* smsTest_ = nullptr;
  QPushButton* smsConfirm_ = nullptr;
  QGroupBox* mailGroup_ = nullptr;
  QLineEdit* mailbox_ = nullptr;
  QPushButton* mailTest_ = nullptr;
  QPushButton* mailConfirm_ = nullptr;
  QGroupBox* robotGroup_ = nullptr;
  QLineEdit* robotAddress_ = nullptr;
  QPushButton* robotTest_ = nullptr;
  QPushButton* robotConfirm_ = nullptr;
  QPushButton* switchOn_ = nullptr;
  QPushButton* switchOff_ = nullptr;
};

}  // namespace torvane
