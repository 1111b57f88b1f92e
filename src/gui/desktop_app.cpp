#include "gui/desktop_app.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <chrono>
#include <cstdlib>

#include "app/demo.h"
#include "app/session.h"
#include "app/update_check.h"
#include "base/settings.h"
#include "delivery/delivery_run.h"
#include "delivery/scheduler.h"
#include "gui/activity_pane.h"
#include "gui/gbk.h"
#include "gui/gui_context.h"
#include "gui/login_window.h"
#include "gui/main_window.h"
#include "gui/message_box.h"
#include "gui/notice_popup.h"
#include "gui/open_address.h"
#include "gui/release_notes_window.h"
#include "gui/settings_pane.h"
#include "gui/tray_icon.h"
#include "gui/ui_bridge.h"
#include "gui/ui_queue.h"
#include "notify/mail.h"
#include "notify/notices.h"
#include "platform/process.h"
#include "platform/stop_signals.h"
#include "platform/window_system.h"
#include "store/item_names.h"
#include "web/http.h"
#include "web/login_session.h"

// The icons live in this static library: its resource table must be registered by hand.
static void InitGuiResources() { Q_INIT_RESOURCE(resources); }

namespace torvane {

DesktopApp::DesktopApp(WindowOptions options) : options_(std::move(options)) {
  InitGuiResources();
  bridge_ = new UiBridge(this);
}

DesktopApp::~DesktopApp() {
  ExitProgram(0);
  // Widgets first (the activity pane lets go of the log), then what they used.
  if (releaseNotes_) delete releaseNotes_.data();
  if (login_) delete login_.data();
  main_.reset();
  delete tray_;
  tray_ = nullptr;
  scheduler_.reset();
  engine_.reset();
  notices_.reset();
  windows_.reset();
  mail_.reset();
  WebConfig web = CurrentWebConfig();
  web.notices = nullptr;
  ConfigureWeb(web);
  context_.reset();
  session_.reset();
  demo_.reset();
}

bool DesktopApp::Start() {
  std::string error;
  if (options_.demo) {
    DemoOptions demoOptions;
    demoOptions.programDir = options_.programDir;
    demo_ = PrepareDemo(demoOptions, &error);
    if (!demo_) {
      MessageBox::Fail(nullptr, FromGbk(error));
      return false;
    }
    options_.configDir = demo_->configDir;
    options_.dataDir = demo_->dataDir;
  }

  std::vector<std::string> problems;
  session_ = Session::Open({options_.configDir, options_.dataDir}, bridge_, &error, &problems);
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
  context_->noticeUi = bridge_;
  CreateDeliveryParts();
  session_->LogStartNotes();

  // Created hidden; everything else happens in this order: release notes (the update check starts),
  // then the panes (history shown before the settings log "程序启动完成"), the frame, the lists.
  main_ = std::make_unique<MainWindow>(*context_);
  releaseNotes_ = new ReleaseNotesWindow;
  releaseNotes_->setAttribute(Qt::WA_DeleteOnClose);
  bridge_->SetReleaseNotes(releaseNotes_);
  scheduler_->StartWorker([this] { CheckForUpdate(context_->deployment, *bridge_); });
  main_->CreatePanes();
  if (options_.demo) main_->ShowPane(1);
  tray_ = new TrayIcon;
  bridge_->SetTray(tray_);
  ConnectTray();
  context_->log->StartAutosave(std::chrono::seconds(60));
  emit context_->storeViewsRefresh();

  connect(main_.get(), &MainWindow::closeRequested, this, [this] { ExitProgram(0); });
  connect(main_->SettingsView(), &SettingsPane::loginRequested, this, [this] { OpenLoginWindow(); });
  connect(releaseNotes_, &ReleaseNotesWindow::dismissed, this, &DesktopApp::DismissReleaseNotes);
  connect(releaseNotes_, &ReleaseNotesWindow::updateChosen, this, &DesktopApp::ChooseUpdate);
  connect(releaseNotes_, &ReleaseNotesWindow::closedWithoutChoice, this, [this] {
    // Closed without a choice: the seller never passed the notice, the program ends.
    if (!tray_->Shown()) ExitProgram(0);
  });
  releaseNotes_->show();
  return true;
}

void DesktopApp::CreateDeliveryParts() {
  const Deployment& d = context_->deployment;
  mail_ = std::make_unique<SmtpMailSender>(d.mail, d.connectTimeoutSeconds, d.totalTimeoutSeconds);
  context_->mail = mail_.get();
  notices_ = std::make_unique<Notices>(context_->settings, *context_->log, *bridge_, *mail_, d);
  context_->notices = notices_.get();
  windows_ = MakeWindowSystem(d);
  // Why chat orders will wait (no wine, no sender program), said once.
  if (const std::string why = windows_->UnavailableReason(); !why.empty()) context_->log->LogActivity(why);
  GuiContext* context = context_.get();
  engine_ = std::make_unique<DeliveryEngine>(d, *context_->stores, options_.dataDir, context_->settings,
                                             *context_->log, *mail_, *notices_, *windows_,
                                             [context] { context->RequestStoreViewsRefresh(); });
  context_->engine = engine_.get();
  scheduler_ = std::make_unique<DeliveryScheduler>(*engine_, context_->deployment, context_->settings,
                                                   *context_->log, *bridge_);
  Session* session = session_.get();
  scheduler_->SetAfterDeliveryRun([session, context] {
    session->AfterDeliveryRun();
    context->RequestStoreViewsRefresh();
  });
  context_->scheduler = scheduler_.get();
}

void DesktopApp::ConnectTray() {
  connect(tray_, &TrayIcon::aboutRequested, this, &DesktopApp::ShowAbout);
  connect(tray_, &TrayIcon::hideRequested, main_.get(), &QWidget::hide);
  connect(tray_, &TrayIcon::showRequested, main_.get(), &MainWindow::ShowNormalWindow);
  connect(tray_, &TrayIcon::websiteRequested, this,
          [this] { OpenAddress(FromGbk(context_->deployment.websiteHome)); });
  connect(tray_, &TrayIcon::exitRequested, this, [this] { ExitProgram(0); });
}

void DesktopApp::DismissReleaseNotes() {
  if (exited_ || !releaseNotes_) return;
  releaseNotes_->hide();
  main_->ShowNormalWindow();
  tray_->Show();
  if (!std::filesystem::exists(ItemNamesPath(options_.dataDir))) {
    NoticePopup::ShowNoticePopup(QStringLiteral(u"感谢使用本程序\r\n\r\n第一次使用请仔细看使用教程"));
  }
  releaseNotes_->close();
  if (options_.demo) main_->SettingsView()->SwitchDeliveryOn();
}

void DesktopApp::ChooseUpdate() {
  const std::string address = SafeDownloadAddress();
  if (address.empty()) {
    // Nothing is opened and the program goes on: the seller downloads from the website instead.
    MessageBox::Inform(releaseNotes_,
                       FromGbk("下载地址不是安全的https网址 未打开: " + DownloadAddress() + "\r\n请到官网下载新版本"));
    return;
  }
  OpenAddress(FromGbk(address));
  ExitProgram(0);
}

void DesktopApp::ExitProgram(int code) {
  if (exited_ || !session_) {
    exited_ = true;
    return;
  }
  exited_ = true;
  if (main_) main_->hide();
  if (releaseNotes_) releaseNotes_->hide();
  if (login_) login_->hide();
  bridge_->Close();
  // A run under way finishes the order in hand and leaves the rest for the next start (a resend too):
  // a code in flight is recorded before the stores close.
  if (engine_) engine_->RequestStop();
  if (scheduler_) scheduler_->Shutdown();
  for (const auto& problem : session_->Close()) MessageBox::Fail(nullptr, FromGbk(problem));
  if (tray_) tray_->Icon()->hide();
  emit exited(code);
}

LoginWindow* DesktopApp::OpenLoginWindow() {
  if (!login_) {
    login_ = new LoginWindow(FromGbk(LoginPageAddress(context_->deployment)), options_.dataDir);
  }
  login_->show();
  login_->raise();
  login_->activateWindow();
  return login_;
}

void DesktopApp::ShowAbout() {
  const QString text = QStringLiteral("\r\n") + QStringLiteral(u"淘宝自动发货程序由Torvane工作室开发编写完成") +
                       QStringLiteral("\r\n\r\n\r\n") + QStringLiteral(u"Torvane官网:") +
                       FromGbk(context_->deployment.websiteHome);
  MessageBox::Show(main_.get(), QStringLiteral("Torvane"), text, MessageBox::Icon::kInformation, MessageBox::kOk);
}


int RunWindow(int argc, char** argv, const WindowOptions& options) {
  // SIGINT and SIGTERM end the program through the exit steps, on the UI thread. Watched from
  // before any other thread starts.
  StopSignals stopSignals;
  // The browser engine refuses to start its sandbox as root; only then is it switched off.
  if (RunningAsRoot() && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  }
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication application(argc, argv);
  application.setApplicationName(QStringLiteral("Torvane"));
  application.setQuitOnLastWindowClosed(false);
  DesktopApp app(options);
  stopSignals.OnFirst([&app] { PostToUi(&app, [&app] { app.ExitProgram(0); }); });
  QObject::connect(&application, &QCoreApplication::aboutToQuit, &app, [&app] { app.ExitProgram(0); });
  // Queued: an exit asked for before the event loop runs still ends it.
  QObject::connect(&app, &DesktopApp::exited, &application, &QCoreApplication::exit, Qt::QueuedConnection);
  if (!app.Start()) return 1;
  return application.exec();
}

}  // namespace torvane
