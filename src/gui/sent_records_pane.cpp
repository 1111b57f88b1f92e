#include "gui/sent_records_pane.h"

#include "gui/gui_context.h"

namespace torvane {

SentRecordsPane::SentRecordsPane(GuiContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setObjectName(QStringLiteral("SentRecordsPane"));
}

}  // namespace torvane
