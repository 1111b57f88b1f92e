#include "gui/desktop_app.h"

#include <unistd.h>

#include <QApplication>
#include <cstdlib>

#include "app/session.h"
#include "gui/gbk.h"
#include "gui/gui_context.h"
#include "gui/main_window.h"
#include "gui/message_box.h"

// The icons live in this static library: its resource table must be registered by hand.
static void InitGuiResources() { Q_INIT_RESOURCE(resources); }

namespace torvane {

DesktopApp::DesktopApp(WindowOptions options) : options_(std::move(options)) { InitGuiResources(); }

DesktopApp::~DesktopApp() = default;

bool DesktopApp::Start() {
  std::string error;
  std::vector<std::string> problems;
  session_ = Session::Open({options_.configDir, options_.dataDir}, nullptr, &error, &problems);
  for (const auto& problem : problems) MessageBox::Fail(nullptr, FromGbk(problem));
  if (!session_) {
    MessageBox::Fail(nullptr, FromGbk(error));
    return false;
  }
  context_ = std::make_unique<GuiContext>();
  context_->configDir = options_.configDir;
  context_->dataDir = options_.dataDir;
  context_->deployment = session_->GetDeployment();
  context_->log = &session_->Log();
  context_->stores = &session_->Stores();
  main_ = std::make_unique<MainWindow>(*context_);
  main_->CreatePanes();
  main_->ShowNormalWindow();
  return true;
}

int RunWindow(int argc, char** argv, const WindowOptions& options) {
  // The browser engine refuses to start its sandbox as root; only then is it switched off.
  if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication application(argc, argv);
  application.setApplicationName(QStringLiteral("Torvane"));
  application.setQuitOnLastWindowClosed(false);
  DesktopApp app(options);
  if (!app.Start()) return 1;
  return application.exec();
}

}  // namespace torvane
