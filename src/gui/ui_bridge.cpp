#include "gui/ui_bridge.h"

#include <QThread>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "gui/gbk.h"
#include "gui/message_box.h"
#include "gui/release_notes_window.h"
#include "gui/tray_icon.h"
#include "gui/ui_queue.h"

namespace torvane {

UiBridge::UiBridge(QObject* parent) : QObject(parent) {}

void UiBridge::Close() { closed_.store(true); }

void UiBridge::ShowTrayBalloon(const std::string& title, const std::string& text, int iconKind, int timeoutMs) {
  PostToUi(this, [this, title = FromGbk(title), text = FromGbk(text), iconKind, timeoutMs] {
    if (tray_) tray_->ShowBalloon(title, text, iconKind, timeoutMs);
  });
}

int UiBridge::NoticeOnUiThread(const QString& text, int style, const QString& title) {
  int buttons = MessageBox::kOk;
  switch (style & 0xF) {
    case 1: buttons = MessageBox::kOk | MessageBox::kCancel; break;
    case 3: buttons = MessageBox::kYes | MessageBox::kNo | MessageBox::kCancel; break;
    case 4: buttons = MessageBox::kYes | MessageBox::kNo; break;
    default: break;
  }
  MessageBox::Icon icon = MessageBox::Icon::kNone;
  switch (style & 0xF0) {
    case 0x10: icon = MessageBox::Icon::kCritical; break;
    case 0x20: icon = MessageBox::Icon::kQuestion; break;
    case 0x30: icon = MessageBox::Icon::kWarning; break;
    case 0x40: icon = MessageBox::Icon::kInformation; break;
    default: break;
  }
  const int pressed = MessageBox::Show(nullptr, title, text, icon, buttons);
  // The system's button numbers (OK 1, Cancel 2, Yes 6, No 7), minus one.
  switch (pressed) {
    case MessageBox::kCancel: return 1;
    case MessageBox::kYes: return 5;
    case MessageBox::kNo: return 6;
    default: return 0;
  }
}

int UiBridge::ShowNotice(const std::string& text, int style, const std::string& title) {
  if (closed_.load()) return 0;
  if (QThread::currentThread() == thread()) return NoticeOnUiThread(FromGbk(text), style, FromGbk(title));
  struct Answer {
    std::mutex mutex;
    std::condition_variable ready;
    bool given = false;
    int value = 0;
  };
  auto answer = std::make_shared<Answer>();
  PostToUi(this, [this, answer, text = FromGbk(text), style, title = FromGbk(title)] {
    const int value = closed_.load() ? 0 : NoticeOnUiThread(text, style, title);
    std::lock_guard<std::mutex> lock(answer->mutex);
    answer->value = value;
    answer->given = true;
    answer->ready.notify_all();
  });
  // Waits for the seller, but never past the end of the program (the exit joins the workers).
  std::unique_lock<std::mutex> lock(answer->mutex);
  while (!answer->given && !closed_.load()) answer->ready.wait_for(lock, std::chrono::milliseconds(100));
  return answer->given ? answer->value : 0;
}

void UiBridge::ShowNewVersion() {
  PostToUi(this, [this] {
    if (releaseNotes_) releaseNotes_->ShowNewVersion();
  });
}

}  // namespace torvane
