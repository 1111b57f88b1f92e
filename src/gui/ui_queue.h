// The one road from a worker to the UI thread. Workers never touch a widget: what they want done to
// one (a log line, a balloon, a finished import) goes into this queue, which the UI thread empties
// when Qt wakes it. The queue is guarded by our own mutex, so every hand-off is ordered by a lock our
// code takes on both sides, not only by the toolkit's event queue.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <mutex>
#include <vector>

namespace torvane {

// Any thread: runs `work` on the UI thread, after every request posted before it, provided `context`
// still exists by then (a request whose context is gone is dropped). Never runs it in the caller, not
// even on the UI thread. Needs the QApplication to exist.
void PostToUi(QObject* context, std::function<void()> work);

class UiQueue : public QObject {
  Q_OBJECT

 public:
  // The queue of the application's UI thread, made on first use.
  static UiQueue& Instance();

  void Post(QObject* context, std::function<void()> work);

  // UI thread: the requests waiting now, run in order.
  Q_INVOKABLE void Drain();

 private:
  UiQueue() = default;

  struct Request {
    QPointer<QObject> context;
    std::function<void()> work;
  };
  std::mutex mutex_;
  std::vector<Request> pending_;
  bool wakePending_ = false;
};

}  // namespace torvane
