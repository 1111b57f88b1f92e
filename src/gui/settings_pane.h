// The "程序配置" pane:  every setting, the test buttons and the switches of automatic delivery.
#pragma once

#include <QWidget>

namespace torvane {

class GuiContext;

class SettingsPane : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsPane(GuiContext& context, QWidget* parent = nullptr);

 private:
  GuiContext& context_;
};

}  // namespace torvane
