// The "使用教程" pane:  links to the help pages.
#pragma once

#include <QWidget>

namespace torvane {

class GuiContext;

class TutorialPane : public QWidget {
  Q_OBJECT

 public:
  explicit TutorialPane(GuiContext& context, QWidget* parent = nullptr);

 private:
  GuiContext& context_;
};

}  // namespace torvane
