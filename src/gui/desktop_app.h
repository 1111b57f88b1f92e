// The desktop application's life cycle: start-up, the release notes, the main window and tray, switching
// automatic delivery on and off, and the exit steps.
#pragma once

#include <QObject>
#include <filesystem>
#include <memory>
#include <string>

namespace torvane {

struct WindowOptions {
  std::filesystem::path configDir;   // 配置文件.ini and 部署配置.ini
  std::filesystem::path dataDir;     // the stores and the other data files
  std::filesystem::path programDir;  // where torvane lies (the demo finds its helpers there)
  bool demo = false;                 // on the bundled simulator, delivery switched on at 30 s
};

class GuiContext;
class MainWindow;
class Session;

class DesktopApp : public QObject {
  Q_OBJECT

 public:
  explicit DesktopApp(WindowOptions options);
  ~DesktopApp() override;

  // Opens the data directory and creates the windows; false (after telling the seller in a box) when the
  // program cannot run on it (another copy holds it, the deployment file is unusable, a store cannot be
  // opened).
  bool Start();

  GuiContext& Context() { return *context_; }
  MainWindow* Main() const { return main_.get(); }

 private:
  WindowOptions options_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<GuiContext> context_;
  std::unique_ptr<MainWindow> main_;
};

// Creates the application object and runs the window until the program ends; returns the exit status.
int RunWindow(int argc, char** argv, const WindowOptions& options);

}  // namespace torvane
