// What workers ask of the window, handed to the UI thread: tray balloons, the web client's notice box and
// the release notes' switch to the update question. Workers never touch a widget themselves.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>

#include "app/update_check.h"
#include "notify/notify_interfaces.h"

namespace torvane {

class ReleaseNotesWindow;
class TrayIcon;

class UiBridge : public QObject, public NoticeUi, public UpdateUi {
  Q_OBJECT

 public:
  explicit UiBridge(QObject* parent = nullptr);

  // UI thread: where balloons and the update question go (either may be null or go away).
  void SetTray(TrayIcon* tray) { tray_ = tray; }
  void SetReleaseNotes(ReleaseNotesWindow* window) { releaseNotes_ = window; }
  // From now on notices are answered at once without a box (the program is ending).
  void Close();

  // Any thread.
  void ShowTrayBalloon(const std::string& title, const std::string& text, int iconKind, int timeoutMs) override;
  // Any thread; a worker waits for the seller's answer (0 at once once closed). Style as the system's
  // message box: low 4 bits the buttons (0 OK, 1 OK/Cancel, 4 Yes/No), 0x10/0x20/0x30/0x40 the icon.
  int ShowNotice(const std::string& text, int style, const std::string& title) override;
  // Any thread; ignored once the release notes are gone.
  void ShowNewVersion() override;

 private:
  int NoticeOnUiThread(const QString& text, int style, const QString& title);

  QPointer<TrayIcon> tray_;
  QPointer<ReleaseNotesWindow> releaseNotes_;
  std::atomic<bool> closed_{false};
};

}  // namespace torvane
