// The desktop application's life cycle: start-up, the release notes, the main window and tray, switching
// automatic delivery on and off, and the exit steps.
#pragma once

#include <QObject>
#include <QPointer>
#include <filesystem>
#include <memory>
#include <string>

#include "gui/login_window.h"
#include "gui/release_notes_window.h"

namespace torvane {

struct WindowOptions {
  std::filesystem::path configDir;   // 配置文件.ini and 部署配置.ini
  std::filesystem::path dataDir;     // the stores and the other data files
  std::filesystem::path programDir;  // where torvane lies (the demo finds its helpers there)
  bool demo = false;                 // on the bundled simulator, delivery switched on at 30 s
};

class DeliveryEngine;
class DeliveryScheduler;
struct DemoEnvironment;
class GuiContext;
class MailSender;
class MainWindow;
class Notices;
class Session;
class TrayIcon;
class UiBridge;
class WindowSystem;

class DesktopApp : public QObject {
  Q_OBJECT

 public:
  explicit DesktopApp(WindowOptions options);
  // Runs the exit steps when they have not run yet.
  ~DesktopApp() override;

  // Opens the data directory (with --demo first sets up the simulated shop), creates the release notes, the
  // main window with its panes and the tray icon, and shows the release notes. False (after telling the
  // seller in a box) when the program cannot run: another copy holds the data directory, the deployment
  // file is unusable, a store cannot be opened, the demo cannot be set up.
  bool Start();

  // 按钮_确认 / 按钮_否: the main window and the tray icon; the first-run greeting; with --demo, delivery on.
  void DismissReleaseNotes();
  // 按钮_是: the download address in the browser, then the end.
  void ChooseUpdate();
  // The exit steps, once however the program ends: workers finish, "程序退出完成", stores closed, history and
  // cookies saved; then exited(code) ends the event loop.
  void ExitProgram(int code = 0);
  bool Exited() const { return exited_; }

  GuiContext& Context() { return *context_; }
  MainWindow* Main() const { return main_.get(); }
  ReleaseNotesWindow* ReleaseNotes() const { return releaseNotes_; }
  TrayIcon* Tray() const { return tray_; }
  UiBridge* Bridge() const { return bridge_; }
  DeliveryScheduler* Scheduler() const { return scheduler_.get(); }
  LoginWindow* Login() const { return login_; }
  // Opens the login window (or raises the open one).
  LoginWindow* OpenLoginWindow();
  void ShowAbout();

 signals:
  // The exit steps have run; the program ends with code.
  void exited(int code);

 private:
  void CreateDeliveryParts();
  void ConnectTray();

  WindowOptions options_;
  std::unique_ptr<DemoEnvironment> demo_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<GuiContext> context_;
  UiBridge* bridge_ = nullptr;
  std::unique_ptr<MailSender> mail_;
  std::unique_ptr<Notices> notices_;
  std::unique_ptr<WindowSystem> windows_;
  std::unique_ptr<DeliveryEngine> engine_;
  std::unique_ptr<DeliveryScheduler> scheduler_;
  TrayIcon* tray_ = nullptr;
  std::unique_ptr<MainWindow> main_;
  QPointer<ReleaseNotesWindow> releaseNotes_;
  QPointer<LoginWindow> login_;
  bool exited_ = false;
};

// Creates the application object and runs the window until the program ends; returns the exit status.
int RunWindow(int argc, char** argv, const WindowOptions& options);

}  // namespace torvane
