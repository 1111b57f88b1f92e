// The "实时动态" pane:  the activity log, newest line on top.
#pragma once

#include <QWidget>

namespace torvane {

class GuiContext;

class ActivityPane : public QWidget {
  Q_OBJECT

 public:
  explicit ActivityPane(GuiContext& context, QWidget* parent = nullptr);

 private:
  GuiContext& context_;
};

}  // namespace torvane
