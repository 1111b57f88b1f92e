#include "gui/activity_pane.h"

#include "gui/gui_context.h"

namespace torvane {

ActivityPane::ActivityPane(GuiContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setObjectName(QStringLiteral("ActivityPane"));
}

}  // namespace torvane
