#include "gui/settings_pane.h"

#include "gui/gui_context.h"

namespace torvane {

SettingsPane::SettingsPane(GuiContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setObjectName(QStringLiteral("SettingsPane"));
}

}  // namespace torvane
