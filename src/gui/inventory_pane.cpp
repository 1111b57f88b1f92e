#include "gui/inventory_pane.h"

#include "gui/gui_context.h"

namespace torvane {

InventoryPane::InventoryPane(GuiContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setObjectName(QStringLiteral("InventoryPane"));
}

}  // namespace torvane
