#include "gui/gui_context.h"

#include <QMetaObject>

namespace torvane {

void GuiContext::RequestStoreViewsRefresh() {
  if (refreshPending_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        refreshPending_.store(false);
        emit storeViewsRefresh();
      },
      Qt::QueuedConnection);
}

}  // namespace torvane
