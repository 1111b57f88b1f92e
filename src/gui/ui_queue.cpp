#include "gui/ui_queue.h"

#include <QCoreApplication>
#include <QThread>

namespace torvane {

UiQueue& UiQueue::Instance() {
  static UiQueue* const queue = [] {
    auto* made = new UiQueue;  // lives as long as the process: workers may post until the very end
    // Made on whichever thread posts first; it belongs to the application's thread.
    made->moveToThread(QCoreApplication::instance()->thread());
    return made;
  }();
  return *queue;
}

void UiQueue::Post(QObject* context, std::function<void()> work) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(Request{QPointer<QObject>(context), std::move(work)});
    wake = !wakePending_;
    wakePending_ = true;
  }
  // Invoked by name: the toolkit makes and runs the wake-up call itself, and carries nothing of ours.
  if (wake) QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
}

void UiQueue::Drain() {
  std::vector<Request> requests;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests.swap(pending_);
    wakePending_ = false;
  }
  for (Request& request : requests) {
    if (request.context) request.work();
  }
}

void PostToUi(QObject* context, std::function<void()> work) { UiQueue::Instance().Post(context, std::move(work)); }

}  // namespace torvane
