// The desktop application driven through its widgets, found by object name, on a real data directory
// and the marketplace simulator. Message boxes are answered through the seam, never shown.
#include <atomic>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <thread>

#include "base/activity_log.h"
#include "base/files.h"
#include "base/settings.h"
#include "base/text.h"
#include "delivery/scheduler.h"
#include "gui/find_control.h"
#include "gui/activity_pane.h"
#include "gui/desktop_app.h"
#include "gui/gbk.h"
#include "gui/gui_context.h"
#include "gui/main_window.h"
#include "gui/message_box.h"
#include "gui/notice_popup.h"
#include "gui/open_address.h"
#include "gui/settings_pane.h"
#include "gui/tray_icon.h"
#include "gui/ui_bridge.h"
#include "support/market_sim.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "web/cookie_store.h"
#include "web/http.h"
#include "web/login_session.h"

using namespace torvane;
using namespace torvane::test;

namespace {

QString HistoryText(const std::filesystem::path& dataDir) {
  return FromGbk(ReadBytes(dataDir / u8"历史记录.log"));
}

// A data and a configuration directory on the simulator.
struct Shop {
  TempDir dir;
  std::unique_ptr<MarketSim> sim = MarketSim::Start();
  WindowOptions Options() const {
    WindowOptions o;
    o.configDir = dir.path();
    o.dataDir = dir.path();
    return o;
  }
  Shop() {
    if (!sim) qFatal("market-sim did not start");
    sim->WriteDeployment(dir.path());
  }
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { MessageBox::SetAnswerWithoutShowing(true); }
  void init() { MessageBox::TakeShown(); }

  // Release notes first, then the main window and the tray; the history under "程序启动完成"; a second
  // copy on the same data directory refused; the exit steps run once.
  void lifeCycleFromReleaseNotesToExit() {
    Shop shop;
    shop.sim->SetUpdateNotice("2.0", "https://127.0.0.1:1/new.exe");
    WriteBytes(shop.dir / u8"历史记录.log", "[2012年3月5日9时7分30秒] 早先的一行\r\n");
    DesktopApp app(shop.Options());
    QSignalSpy exited(&app, &DesktopApp::exited);
    QVERIFY(app.Start());

    QVERIFY(app.ReleaseNotes()->isVisible());
    QVERIFY(!app.Main()->isVisible());
    QVERIFY(!app.Tray()->Shown());
    ActivityModel* model = app.Main()->Activity()->Model();
    QTRY_VERIFY_WITH_TIMEOUT(model->data(model->index(0)).toString().endsWith(QStringLiteral(u"] 程序启动完成")), 5000);
    QCOMPARE(model->data(model->index(model->rowCount() - 1)).toString(),
             QStringLiteral(u"[2012年3月5日9时7分30秒] 早先的一行"));

    // The update check turns the notes into the question.
    QTRY_VERIFY_WITH_TIMEOUT(app.ReleaseNotes()->InNewVersionState(), 20000);
    QVERIFY(Find<QPushButton>(app.ReleaseNotes(), u"按钮_确认")->isHidden());

    // A second copy on the same files is refused with a box, the runner too.
    {
      DesktopApp second(shop.Options());
      QVERIFY(!second.Start());
      const auto shown = MessageBox::TakeShown();
      QCOMPARE(shown.size(), 1);
      QCOMPARE(shown[0].icon, MessageBox::Icon::kCritical);
    }
    auto runner = RunProcess(TorvaneBinary(), {"run", "--config-dir", shop.dir.path().string(), "--once"},
                             shop.dir.path(), std::chrono::seconds(30));
    QCOMPARE(runner.exitCode, 1);

    QTest::mouseClick(Find<QPushButton>(app.ReleaseNotes(), u"按钮_否"), Qt::LeftButton);
    QVERIFY(app.Main()->isVisible());
    QVERIFY(app.Tray()->Shown());
    QTRY_VERIFY(app.ReleaseNotes() == nullptr);
    // First run (no 宝贝名称.txt): the greeting.
    NoticePopup* greeting = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* p = qobject_cast<NoticePopup*>(w)) greeting = p;
    }
    QVERIFY(greeting);
    QVERIFY(greeting->findChild<QWidget*>(QStringLiteral(u"标签_提示")));

    // Minimised, the window goes to the tray; "显示主界面" brings it back in normal state.
    TrayIcon::SetSystemTrayAvailable(true);
    app.Main()->showMinimized();
    QTRY_VERIFY(!app.Main()->isVisible());
    QList<QAction*> items = app.Tray()->Menu()->actions();
    QStringList captions;
    for (QAction* a : items) captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(captions, (QStringList{QStringLiteral(u"关于Torvane"), "-", QStringLiteral(u"隐藏主界面"),
                                    QStringLiteral(u"显示主界面"), "-", QStringLiteral(u"打开官网"),
                                    QStringLiteral(u"退出")}));
    items[3]->trigger();
    QVERIFY(app.Main()->isVisible());
    QVERIFY(!(app.Main()->windowState() & Qt::WindowMinimized));

    // Without a tray, minimising only minimises (else nothing could bring the window back), and a
    // balloon becomes a pop-up. Balloon title and text are cut to 63 and 255 GBK bytes, never mid-character.
    TrayIcon::SetSystemTrayAvailable(false);
    app.Main()->showMinimized();
    QTest::qWait(50);  // the queued hide of a minimised window would have run
    QVERIFY(app.Main()->isVisible());
    QVERIFY(app.Main()->windowState() & Qt::WindowMinimized);
    QSignalSpy balloons(app.Tray(), &TrayIcon::balloonShown);
    app.Tray()->ShowBalloon(QStringLiteral("a") + QString(40, QChar(u'提')), QStringLiteral("b") + QString(200, QChar(u'货')), 1,
                            3000);
    QCOMPARE(balloons.count(), 1);
    const QString title = QStringLiteral("a") + QString(31, QChar(u'提'));
    const QString text = QStringLiteral("b") + QString(127, QChar(u'货'));
    QCOMPARE(balloons[0][0].toString(), title);
    QCOMPARE(balloons[0][1].toString(), text);
    bool popped = false;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* label = qobject_cast<NoticePopup*>(w) ? w->findChild<QLabel*>(QStringLiteral(u"标签_提示")) : nullptr) {
        popped = popped || label->text() == title + QStringLiteral("\r\n") + text;
      }
    }
    QVERIFY(popped);
    TrayIcon::SetSystemTrayAvailable(true);
    items[3]->trigger();

    items[6]->trigger();  // 退出
    QCOMPARE(exited.count(), 1);
    app.ExitProgram(0);
    QCOMPARE(exited.count(), 1);
    const QString history = HistoryText(shop.dir.path());
    QCOMPARE(history.count(QStringLiteral(u"程序退出完成")), 1);
    const QStringList lines = history.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QVERIFY(lines.size() >= 3);
    QVERIFY(lines[0].endsWith(QStringLiteral(u"] 程序退出完成")));
    QVERIFY(lines[1].endsWith(QStringLiteral(u"] 程序启动完成")));
    QCOMPARE(lines.last(), QStringLiteral(u"[2012年3月5日9时7分30秒] 早先的一行"));
  }

  // Closing the release notes without a choice ends the program; 按钮_是 opens the download address and ends it.
  void releaseNotesClosedOrUpdateChosen() {
    Shop shop;
    {
      DesktopApp app(shop.Options());
      QSignalSpy exited(&app, &DesktopApp::exited);
      QVERIFY(app.Start());
      app.ReleaseNotes()->close();
      QCOMPARE(exited.count(), 1);
      QVERIFY(!app.Main()->isVisible());
      QVERIFY(!app.Tray()->Shown());
    }
    // A download address that is not https is not opened: the seller is told why, and the program goes on.
    QStringList opened;
    SetAddressOpener([&opened](const QString& a) { opened << a; });
    shop.sim->SetUpdateNotice("1.9", "http://127.0.0.1:1/new.exe");
    {
      DesktopApp app(shop.Options());
      QSignalSpy exited(&app, &DesktopApp::exited);
      QVERIFY(app.Start());
      QTRY_VERIFY_WITH_TIMEOUT(app.ReleaseNotes()->InNewVersionState(), 20000);
      MessageBox::TakeShown();
      QTest::mouseClick(Find<QPushButton>(app.ReleaseNotes(), u"按钮_是"), Qt::LeftButton);
      QCOMPARE(exited.count(), 0);
      QVERIFY(opened.isEmpty());
      const auto shown = MessageBox::TakeShown();
      QCOMPARE(shown.size(), 1);
      QVERIFY2(shown[0].text.contains(QStringLiteral(u"不是安全的https网址")), qPrintable(shown[0].text));
      QVERIFY(app.ReleaseNotes()->isVisible());
      app.ExitProgram(0);
    }
    shop.sim->SetUpdateNotice("1.9", "https://127.0.0.1:1/new.exe");
    DesktopApp app(shop.Options());
    QSignalSpy exited(&app, &DesktopApp::exited);
    QVERIFY(app.Start());
    QTRY_VERIFY_WITH_TIMEOUT(app.ReleaseNotes()->InNewVersionState(), 20000);
    QTest::mouseClick(Find<QPushButton>(app.ReleaseNotes(), u"按钮_是"), Qt::LeftButton);
    SetAddressOpener({});
    QCOMPARE(opened, QStringList{QStringLiteral("https://127.0.0.1:1/new.exe")});
    QCOMPARE(exited.count(), 1);
  }

  // The settings pane: loading, the two toggled groups, switching on (saved, timer armed at the chosen period,
  // one delivery pass through the scheduler refreshing the store views), switching off, a refused save.
  void settingsPaneCommands() {
    Shop shop;
    const std::string robot = shop.sim->BaseUrl() + "/robot/send?key=group-key-77";
    WriteBytes(shop.dir / u8"配置文件.ini",
               "[订单扫描]\r\n周期=5分钟\r\n[发货方式]\r\n空发货=真\r\n[发货签名]\r\n是否开启=真 \r\n签名=店铺\r\n"
               "[发货通知自己]\r\n群机器人提示=真\r\n[群机器人]\r\n地址=" + robot + "\r\n");
    WriteBytes(shop.dir / u8"宝贝名称.txt", "QQ会员一个月\r\n");
    QVERIFY(shop.sim->AddOrder("100200300", "QQ会员一个月", "1", "buyer1"));
    DesktopApp app(shop.Options());
    QVERIFY(app.Start());
    QTest::mouseClick(Find<QPushButton>(app.ReleaseNotes(), u"按钮_确认"), Qt::LeftButton);
    SettingsPane* pane = app.Main()->SettingsView();
    app.Main()->ShowPane(0);
    shop.sim->SetSeller("演示店铺", "700100", "secret", "tok123");
    网页_访问(shop.sim->BaseUrl() + "/member/login.jhtml", 1, {}, {}, "TPL_username=seller&TPL_password=secret");

    QCOMPARE(Find<QComboBox>(pane, u"组合框_扫描时间")->currentText(), QStringLiteral(u"5分钟"));
    QVERIFY(Find<QRadioButton>(pane, u"单选框_空发货")->isChecked());
    QVERIFY(!Find<QCheckBox>(pane, u"选择框_开启发货签名")->isChecked());  // "真 " is not "真"
    QCOMPARE(Find<QLineEdit>(pane, u"编辑框_签名")->text(), QStringLiteral(u"店铺"));

    auto* mail = Find<QGroupBox>(pane, u"分组框_邮箱设置");
    auto* sms = Find<QGroupBox>(pane, u"分组框_手机设置");
    QVERIFY(mail->isHidden() && sms->isHidden());
    QTest::mouseClick(Find<QPushButton>(pane, u"按钮_邮箱设置"), Qt::LeftButton);
    QVERIFY(!mail->isHidden());
    QTest::mouseClick(Find<QPushButton>(pane, u"按钮_短信设置"), Qt::LeftButton);
    QVERIFY(mail->isHidden() && !sms->isHidden());
    QTest::mouseClick(Find<QPushButton>(pane, u"按钮_手机确认"), Qt::LeftButton);
    QVERIFY(sms->isHidden());
    QTest::mouseClick(Find<QPushButton>(pane, u"按钮_邮箱设置"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(pane, u"按钮_邮箱设置"), Qt::LeftButton);
    QVERIFY(mail->isHidden());
    auto* robotGroup = Find<QGroupBox>(pane, u"分组框_群机器人设置");
    QTest::mouseClick(Find<QPushButton>(pane, u"按钮_邮箱设置"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(pane, u"按钮_群机器人设置"), Qt::LeftButton);
    QVERIFY(mail->isHidden() && sms->isHidden() && !robotGroup->isHidden());
    QTest::mouseClick(Find<QPushButton>(pane, u"按钮_群机器人确认"), Qt::LeftButton);
    QVERIFY(robotGroup->isHidden());

    // The test button goes through the existing test function: an empty mailbox is refused.
    QTest::mouseClick(Find<QPushButton>(pane, u"按钮_发信测试"), Qt::LeftButton);
    auto shown = MessageBox::TakeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].title, QStringLiteral(u"提示"));
    QCOMPARE(shown[0].text, QStringLiteral(u"请将信息填写完整"));

    // The robot's address and ticks come from the file; its test button posts to the robot and says so,
    // and refuses a plain http address elsewhere than on this machine without posting anything.
    auto* robotAddress = Find<QLineEdit>(pane, u"编辑框_群机器人地址");
    QCOMPARE(robotAddress->text(), QString::fromStdString(robot));
    QVERIFY(Find<QCheckBox>(pane, u"选择框_发货群机器人通知")->isChecked());
    QVERIFY(!Find<QCheckBox>(pane, u"选择框_无货群机器人通知")->isChecked());
    QTest::mouseClick(Find<QPushButton>(pane, u"按钮_群机器人测试"), Qt::LeftButton);
    robotAddress->setText(QStringLiteral("http://chat.example.test/robot/send?key=group-key-77"));
    QTest::mouseClick(Find<QPushButton>(pane, u"按钮_群机器人测试"), Qt::LeftButton);
    robotAddress->setText(QString::fromStdString(robot));
    shown = MessageBox::TakeShown();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0].text, QStringLiteral(u"群机器人消息已经发送,请查看群聊"));
    QCOMPARE(shown[1].text, QStringLiteral(u"群机器人地址必须以https://开头"));
    const auto robotMessages = shop.sim->RobotMessages();
    QCOMPARE(robotMessages.size(), std::size_t{1});
    QCOMPARE(FromGbk(robotMessages[0].content), QStringLiteral(u"Torvane群机器人通知测试"));

    Find<QLineEdit>(pane, u"编辑框_签名")->setText(QStringLiteral(u" 签名 "));
    QSignalSpy balloons(app.Tray(), &TrayIcon::balloonShown);
    QSignalSpy refreshed(&app.Context(), &GuiContext::storeViewsRefresh);
    QTest::mouseClick(Find<QPushButton>(pane, u"按钮_自动发货开启"), Qt::LeftButton);
    QCOMPARE(app.Scheduler()->PeriodMs(), 300000);
    QVERIFY(app.Scheduler()->DeliveryOn());
    app.Scheduler()->WaitIdle();  // the login check
    QCOMPARE(FormToken(), std::string("tok123"));
    const Settings saved = LoadSettings(SettingsPath(shop.dir.path()));
    QCOMPARE(FromGbk(saved.signature), QStringLiteral(u"签名"));
    QCOMPARE(FromGbk(saved.scanPeriod), QStringLiteral(u"5分钟"));
    QCOMPARE(saved.robotAddress, robot);
    QVERIFY(saved.deliveredRobot && !saved.outOfStockRobot);
    QCOMPARE(Find<QLineEdit>(pane, u"编辑框_签名")->text(), QStringLiteral(u" 签名 "));
    QTRY_VERIFY(balloons.count() >= 1);
    QCOMPARE(balloons[0][1].toString(), QStringLiteral(u"自动发货已经开启"));

    app.Scheduler()->ScanTick();
    app.Scheduler()->WaitIdle();
    QTRY_VERIFY_WITH_TIMEOUT(refreshed.count() >= 1, 5000);
    QCOMPARE(shop.sim->OrderStatus("100200300"), std::string("shipped"));

    QTest::mouseClick(Find<QPushButton>(pane, u"按钮_自动发货关闭"), Qt::LeftButton);
    QVERIFY(!app.Scheduler()->DeliveryOn());

    // The exit asks the pass under way to stop after the order in hand, waits for it, and only then
    // closes the stores and saves the history.
    for (const char* order : {"100200301", "100200302", "100200303"}) QVERIFY(shop.sim->AddOrder(order, "QQ会员一个月", "1", "b"));
    test::SimFaults slow;
    slow.slowMs = 1500;
    slow.paths = {"/user/consign.htm"};
    QVERIFY(shop.sim->SetFaults(slow));
    app.Scheduler()->ScanTick();
    QTRY_VERIFY_WITH_TIMEOUT(ContainsText(app.Context().log->Text(), "发现已付款订单 [3]个"), 10000);
    QTest::qWait(300);  // the first consign form is under way
    app.ExitProgram(0);
    QCOMPARE(shop.sim->OrderStatus("100200301"), std::string("shipped"));
    QCOMPARE(shop.sim->OrderStatus("100200302"), std::string("paid"));
    QCOMPARE(shop.sim->OrderStatus("100200303"), std::string("paid"));
    const QStringList history = HistoryText(shop.dir.path()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QVERIFY(history.size() >= 3);
    QVERIFY2(history[0].endsWith(QStringLiteral(u"] 程序退出完成")), qPrintable(history[0]));
    QVERIFY2(history[1].endsWith(QStringLiteral(u"] 完成 共空发货订单 [1]个")), qPrintable(history[1]));
    QVERIFY2(history[2].endsWith(QStringLiteral(u"] 收到退出请求 其余订单下次处理")), qPrintable(history[2]));
  }

  // A settings file GBK cannot rewrite is not replaced, the seller is told and delivery stays off.
  void refusedSaveKeepsDeliveryOff() {
    Shop shop;
    const std::u8string utf8 = u8"[发货签名]\r\n签名=欢迎光临 \U0001F600\r\n";
    WriteBytes(shop.dir / u8"配置文件.ini", std::string(utf8.begin(), utf8.end()));
    const std::string before = ReadBytes(shop.dir / u8"配置文件.ini");
    DesktopApp app(shop.Options());
    QVERIFY(app.Start());
    QTest::mouseClick(Find<QPushButton>(app.ReleaseNotes(), u"按钮_确认"), Qt::LeftButton);
    MessageBox::TakeShown();
    QTest::mouseClick(Find<QPushButton>(app.Main()->SettingsView(), u"按钮_自动发货开启"), Qt::LeftButton);
    const auto shown = MessageBox::TakeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].icon, MessageBox::Icon::kCritical);
    QVERIFY(!app.Scheduler()->DeliveryOn());
    QCOMPARE(ReadBytes(shop.dir / u8"配置文件.ini"), before);
    app.ExitProgram(0);
  }

  // A worker's log line, balloon and notice reach the UI thread; the worker reads the controls' values.
  void workerRequestsReachTheUiThread() {
    Shop shop;
    DesktopApp app(shop.Options());
    QVERIFY(app.Start());
    QTest::mouseClick(Find<QPushButton>(app.ReleaseNotes(), u"按钮_确认"), Qt::LeftButton);
    Find<QLineEdit>(app.Main()->SettingsView(), u"编辑框_收信邮箱")->setText(QStringLiteral("seller@example.test"));

    QThread* uiThread = QThread::currentThread();
    bool balloonOnUi = false;
    connect(app.Tray(), &TrayIcon::balloonShown, this,
            [&](const QString&, const QString& text, int, int) {
              if (text == QStringLiteral(u"发货完成")) balloonOnUi = QThread::currentThread() == uiThread;
            });
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    std::string mailboxSeen;
    std::atomic<int> noticeAnswer{-1};  // polled below while the worker may still write it
    std::thread worker([&] {
      app.Context().log->LogActivity("来自工作线程的一行");
      app.Bridge()->ShowTrayBalloon("发货提示", "发货完成", 1, 3000);
      mailboxSeen = app.Context().settings.Current().noticeMailbox;
      noticeAnswer = app.Bridge()->ShowNotice("友情提醒的内容", 1, "友情提醒");
    });
    QTRY_VERIFY_WITH_TIMEOUT(noticeAnswer != -1, 10000);
    worker.join();
    ActivityModel* model = app.Main()->Activity()->Model();
    QTRY_VERIFY(model->data(model->index(0)).toString().endsWith(QStringLiteral(u"] 来自工作线程的一行")));
    QVERIFY(balloonOnUi);
    QCOMPARE(mailboxSeen, std::string("seller@example.test"));
    QCOMPARE(noticeAnswer.load(), 1);  // Cancel
    const auto shown = MessageBox::TakeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].title, QStringLiteral(u"友情提醒"));
    app.ExitProgram(0);
  }

  // Pop-ups start just below the screen's bottom-right corner, rise to rest, stack, and go after 10 s.
  void popupsRiseStackAndExpire() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (qobject_cast<NoticePopup*>(w)) w->close();
    }
    auto popupsLeft = [] {
      const QWidgetList all = QApplication::topLevelWidgets();
      return std::any_of(all.cbegin(), all.cend(), [](QWidget* w) { return qobject_cast<NoticePopup*>(w) != nullptr; });
    };
    QTRY_VERIFY(!popupsLeft());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QPointer<NoticePopup> first = NoticePopup::ShowNoticePopup(QStringLiteral("A"));
    QPointer<NoticePopup> second = NoticePopup::ShowNoticePopup(QStringLiteral("B"));
    QCOMPARE(first->size(), QSize(241, 165));
    QCOMPARE(first->x(), screen.width() - 241);
    QVERIFY(first->y() > screen.height() - 165);
    QCOMPARE(first->TargetTop(), screen.height() - 165);
    QCOMPARE(second->TargetTop(), screen.height() - 330);
    QTRY_COMPARE_WITH_TIMEOUT(first->y(), screen.height() - 165, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull() && second.isNull(), 12000);
  }

  // The login window on the simulator's login form: the session cookie reaches the shared store and the
  // cookie file, and the login check then works with it.
  void loginWindowTakesTheCookie() {
    Shop shop;
    shop.sim->SetSeller("演示店铺", "700100", "secret", "tok123");
    DesktopApp app(shop.Options());
    QVERIFY(app.Start());
    QTest::mouseClick(Find<QPushButton>(app.ReleaseNotes(), u"按钮_确认"), Qt::LeftButton);
    ClearCookies();
    LoginWindow* login = app.OpenLoginWindow();
    QWebEngineView* browser = login->Browser();
    QSignalSpy loaded(browser, &QWebEngineView::loadFinished);
    QVERIFY(loaded.wait(60000));
    QVERIFY(browser->url().toString().contains(QStringLiteral("/member/login.jhtml")));
    browser->page()->runJavaScript(QStringLiteral(
        "document.querySelector('[name=TPL_username]').value='seller';"
        "document.querySelector('[name=TPL_password]').value='secret';"
        "document.querySelector('form').submit();"));
    QTRY_VERIFY_WITH_TIMEOUT(CookieHeaderFor("127.0.0.1", "/", false).find("cookie2=") != std::string::npos, 60000);
    QTest::mouseClick(Find<QPushButton>(login, u"按钮_登陆完毕"), Qt::LeftButton);
    QVERIFY(ReadBytes(CookieFilePath(shop.dir.path())).find("cookie2") != std::string::npos);
    QVERIFY(CheckLoginSession(app.Context().deployment));
    QCOMPARE(FormToken(), std::string("tok123"));
    app.ExitProgram(0);
  }
};

int main(int argc, char** argv) {
  if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication application(argc, argv);
  application.setQuitOnLastWindowClosed(false);
  // The offscreen desktop has no tray; the tests say which desktop they stand for.
  TrayIcon::SetSystemTrayAvailable(true);
  WindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_test.moc"
