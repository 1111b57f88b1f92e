// Takes the README's screenshots: each pane on the demo shop after a delivery pass, the release notes in
// both states, the login window, the pop-up and the tray menu. Run under an X server (scripts/screenshots.sh).
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWebEngineView>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "app/cli.h"
#include "delivery/scheduler.h"
#include "gui/desktop_app.h"
#include "gui/gui_context.h"
#include "gui/inventory_pane.h"
#include "gui/login_window.h"
#include "gui/main_window.h"
#include "gui/message_box.h"
#include "gui/notice_popup.h"
#include "gui/release_notes_window.h"
#include "gui/sales_pane.h"
#include "gui/tray_icon.h"
#include "store/item_names.h"
#include "store/item_settings.h"
#include "store/sales_stats.h"

namespace {

void Settle(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 50);
}

// The window as the screen shows it (the browser's content included).
bool Save(QWidget* window, const QString& file) {
  window->raise();
  Settle(400);
  const QRect frame = window->frameGeometry();
  QPixmap shot = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
  const bool ok = shot.save(file);
  std::printf("%s %s\n", ok ? "saved" : "NOT SAVED", qPrintable(file));
  return ok;
}

// Codes handed over on the days before the demo's own, a few each day for every item, so the sales
// view has weeks to draw; and a low-stock threshold for the first item.
void AddSalesHistory(torvane::GuiContext& context) {
  using namespace std::chrono;
  const std::vector<std::string> items = torvane::ReadItemNames(context.dataDir);
  if (!context.stores || items.empty()) return;
  const sys_days today{torvane::LocalDay(std::time(nullptr))};
  std::vector<std::vector<std::string>> records;
  int order = 0;
  for (int back = 29; back >= 1; --back) {
    const std::string day = torvane::DayText(year_month_day{today - days{back}});
    for (std::size_t i = 0; i < items.size(); ++i) {
      const int item = static_cast<int>(i);
      const int count = (back * 7 + item * 5) % 9 + (item == 0 ? 6 : 2) - (back % 6 == 0 ? 2 : 0);
      for (int c = 0; c < count; ++c, ++order) {
        char time[16];
        std::snprintf(time, sizeof(time), " %02d:%02d:%02d", 8 + c % 14, (order * 7) % 60, (order * 13) % 60);
        const std::string n = std::to_string(order);
        records.push_back({items[i], "36" + std::string(12 - n.size(), '0') + n, "buyer" + n, "1", "HIST" + n,
                           "H" + n + "-SECRET", "充值后请及时确认收货", "旺旺发送", day + time, day + time, "旺旺"});
      }
    }
  }
  context.stores->Sent().AppendMany(records);
  torvane::ItemSettings settings;
  if (settings.Load(context.dataDir)) {
    torvane::ItemSetting first = settings.Of(items[0]);
    if (!first.lowStock) first.lowStock = 80;
    if (settings.Set(items[0], first)) settings.Save(context.dataDir);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication application(argc, argv);
  application.setQuitOnLastWindowClosed(false);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
  QDir().mkpath(out);
  torvane::MessageBox::SetAnswerWithoutShowing(true);

  torvane::WindowOptions options;
  options.programDir = torvane::ProgramDirectory();  // the build directory, beside market-sim
  options.demo = true;
  torvane::DesktopApp app(options);
  if (!app.Start()) return 1;
  int failures = 0;
  auto* notes = app.ReleaseNotes();
  notes->move(440, 260);
  failures += !Save(notes, out + "/release_notes.png");
  {
    torvane::ReleaseNotesWindow question;
    question.move(440, 260);
    question.show();
    question.ShowNewVersion();
    failures += !Save(&question, out + "/release_notes_update.png");
  }

  app.DismissReleaseNotes();
  app.Main()->move(275, 90);
  // A few passes over the orders the simulated buyers place meanwhile.
  for (int pass = 0; pass < 3; ++pass) {
    Settle(6000);
    app.Scheduler()->ScanTick();
    app.Scheduler()->WaitIdle();
  }
  // Settings of three demo items for the inventory pane's marks: one at or below its low-stock
  // threshold, one above it, one reusable. Set after the passes: the deliveries above are the demo's own.
  {
    torvane::ItemSettings items;
    const bool saved = items.Load(app.Context().dataDir) && items.Set("QQ会员一个月", {false, 10}) &&
                       items.Set("网易一卡通100点", {false, 20}) && items.Set("盛大一卡通50元", {true, std::nullopt}) &&
                       items.Save(app.Context().dataDir);
    if (!saved) std::printf("NOT SAVED item settings\n");
    failures += !saved;
    app.Main()->Inventory()->ReloadItemOverview();
  }
  Settle(500);
  const char* panes[] = {"pane_settings", "pane_activity", "pane_inventory", "pane_sent", "pane_tutorial"};
  for (int i = 0; i < 5; ++i) {
    app.Main()->ShowPane(i);
    failures += !Save(app.Main(), out + "/" + panes[i] + ".png");
  }

  // The sales view over the demo's deliveries and the weeks before them, one line per item.
  AddSalesHistory(app.Context());
  app.Main()->ShowPane(5);
  for (int i = 0; i < 300 && app.Main()->Sales()->Reading(); ++i) Settle(50);
  if (auto* lines = app.Main()->Sales()->findChild<QComboBox*>(QStringLiteral(u"组合框_销售图表"))) {
    lines->setCurrentIndex(1);
  }
  failures += !Save(app.Main(), out + "/pane_sales.png");

  // The inventory's batch window over its pane.
  app.Main()->ShowPane(2);
  if (QWidget* batch = app.Main()->Inventory()->OpenBatchWindow()) {
    batch->move(app.Main()->x() + 160, app.Main()->y() + 150);
    failures += !Save(batch, out + "/inventory_batch.png");
    batch->close();
  }

  QWidget* popup = torvane::NoticePopup::ShowNoticePopup(
      QStringLiteral(u"感谢使用本程序\r\n\r\n第一次使用请仔细看使用教程"));
  Settle(1500);
  failures += !Save(popup, out + "/popup.png");

  torvane::LoginWindow* login = app.OpenLoginWindow();
  login->move(400, 150);
  Settle(4000);
  failures += !Save(login, out + "/login_window.png");
  login->close();

  QMenu* menu = app.Tray()->Menu();
  menu->popup(QPoint(600, 300));
  Settle(500);
  failures += !Save(menu, out + "/tray_menu.png");
  menu->hide();

  app.ExitProgram(0);
  return failures == 0 ? 0 : 1;
}
