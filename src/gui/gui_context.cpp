#include "gui/gui_context.h"

#include <QThreadPool>

#include "delivery/scheduler.h"
#include "gui/ui_queue.h"

namespace torvane {

void GuiContext::RequestStoreViewsRefresh() {
  if (refreshPending_.exchange(true)) return;
  PostToUi(this, [this] {
    refreshPending_.store(false);
    emit storeViewsRefresh();
  });
}

bool GuiContext::RunOnWorker(std::function<void()> work) {
  if (scheduler) return scheduler->StartWorker(std::move(work));
  QThreadPool::globalInstance()->start(std::move(work));
  return true;
}

void GuiContext::BeginStoreWork() {
  if (storeWork_++ == 0) emit storeWorkChanged(true);
}

void GuiContext::EndStoreWork() {
  if (storeWork_ == 0 || --storeWork_ > 0) return;
  emit storeWorkChanged(false);
  if (refreshDeferred_) {
    refreshDeferred_ = false;
    emit storeViewsRefresh();
  }
}

}  // namespace torvane
