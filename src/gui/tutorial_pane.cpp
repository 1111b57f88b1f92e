#include "gui/tutorial_pane.h"

#include "gui/gui_context.h"

namespace torvane {

TutorialPane::TutorialPane(GuiContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setObjectName(QStringLiteral("TutorialPane"));
}

}  // namespace torvane
