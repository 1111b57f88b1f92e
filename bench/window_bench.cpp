// Figures of the window: start-up on a large shop, the activity pane on a large history, memory.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QListView>
#include <QTableView>
#include <QScrollBar>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "base/activity_log.h"
#include "base/files.h"
#include "bench.h"
#include "gui/activity_pane.h"
#include "gui/desktop_app.h"
#include "gui/inventory_pane.h"
#include "gui/record_list_model.h"
#include "gui/gui_context.h"
#include "gui/main_window.h"
#include "gui/message_box.h"
#include "store/record_store.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "torvane-bench";
  static char* argv[] = {name, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Deleted before main returns: left to the exit handlers, its teardown would reach Qt data already gone.
  static QApplication* app = [] {
    auto* made = new QApplication(argc, argv);
    bench::AtEndOfRun([made] { delete made; });
    return made;
  }();
  torvane::MessageBox::SetAnswerWithoutShowing(true);
  return *app;
}

// A history of the given number of lines (about 60 bytes each), newest first.
void WriteHistory(const std::filesystem::path& file, std::size_t lines) {
  std::string text;
  text.reserve(lines * 64);
  for (std::size_t i = lines; i > 0; --i) {
    text += "[2026年1月2日3时4分5秒] 订单 " + std::to_string(100000000 + i) + " 已发货 QQ会员一个月 1 张\r\n";
  }
  torvane::WriteFileAtomic(file, text);
}

// A shop with a 100,000-line history and 1,000,000 cards; made once.
std::filesystem::path BigShop() {
  static std::filesystem::path dir;
  if (!dir.empty()) return dir;
  dir = bench::ScratchDir("window");
  WriteHistory(dir / u8"历史记录.log", 100000);
  torvane::WriteFileAtomic(dir / u8"宝贝名称.txt", "QQ会员一个月\r\n");
  torvane::WriteFileAtomic(dir / u8"部署配置.ini", "[更新]\r\n公告页面=http://127.0.0.1:9/update.htm?\r\n");
  torvane::StoreError error;
  auto stores = torvane::CardStores::Open(dir, &error);
  std::vector<std::vector<std::string>> cards;
  cards.reserve(1000000);
  for (int i = 0; i < 1000000; ++i) {
    cards.push_back({"QQ会员一个月", "NO" + std::to_string(10000000 + i), "SECRET" + std::to_string(i), "备注"});
  }
  stores->Inventory().AppendMany(cards);
  stores->Close();
  return dir;
}

}  // namespace

// From nothing to the main window shown with its panes filled: release notes, panes, dismissal.
TORVANE_BENCH("startup_to_window_s") {
  QApplication& app = App();
  const auto dir = BigShop();
  const auto start = std::chrono::steady_clock::now();
  {
    torvane::WindowOptions options;
    options.configDir = dir;
    options.dataDir = dir;
    torvane::DesktopApp desktop(options);
    if (!desktop.Start()) return;
    desktop.DismissReleaseNotes();
    app.processEvents();
    bench::Report("startup_to_window_s", bench::SecondsSince(start), "s");
    desktop.ExitProgram(0);
  }
}

// The inventory pane's list shown on 1,000,000 cards: filled, painted, then scrolled to the middle and
// the end (each a page read); also the time of one fill alone, as after every delivery run.
TORVANE_BENCH("inventory_fill_1m_s") {
  QApplication& app = App();
  const auto dir = BigShop();
  torvane::StoreError error;
  auto stores = torvane::CardStores::Open(dir, &error);
  if (!stores) return;
  torvane::GuiContext context;
  context.dataDir = dir;
  context.stores = stores.get();
  const auto start = std::chrono::steady_clock::now();
  {
    torvane::InventoryPane pane(context);
    pane.resize(720, 420);
    pane.FillInventoryList(1);
    pane.show();
    app.processEvents();
    bench::Report("inventory_fill_1m_s", bench::SecondsSince(start), "s");
    auto* view = pane.findChild<QTableView*>();
    const auto scrolled = std::chrono::steady_clock::now();
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    app.processEvents();
    view->scrollToBottom();
    app.processEvents();
    bench::Report("inventory_scroll_1m_s", bench::SecondsSince(scrolled) / 2, "s");
    const auto refilled = std::chrono::steady_clock::now();
    pane.RefreshStoreView();
    app.processEvents();
    bench::Report("inventory_refresh_1m_s", bench::SecondsSince(refilled), "s");
    if (pane.Model()->rowCount() != 1000000) std::fprintf(stderr, "inventory pane shows %d rows\n", pane.Model()->rowCount());
  }
  stores->Close();
}

// The activity pane opened on a 100 MB history and scrolled to its oldest line.
TORVANE_BENCH("activity_pane_100mb_s") {
  QApplication& app = App();
  const auto dir = bench::ScratchDir("activity");
  WriteHistory(dir / u8"历史记录.log", 100u * 1024 * 1024 / 60);
  torvane::ActivityLog log(dir / u8"历史记录.log");
  const auto start = std::chrono::steady_clock::now();
  log.LoadHistory();
  torvane::GuiContext context;
  context.log = &log;
  {
    torvane::ActivityPane pane(context);
    pane.resize(720, 420);
    pane.show();
    app.processEvents();
    auto* view = pane.findChild<QListView*>();
    view->scrollToBottom();
    app.processEvents();
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    app.processEvents();
    bench::Report("activity_pane_100mb_s", bench::SecondsSince(start), "s");
  }
}

// Peak resident memory of the program itself with 1,000,000 cards, the window up, the login window closed.
TORVANE_BENCH("rss_mb_1m_cards") {
  const auto dir = BigShop();
  const std::filesystem::path program = std::filesystem::path(TORVANE_BINARY_PATH);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    ::execl(program.c_str(), program.c_str(), "--config-dir", dir.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // The peak settles once start-up is over; the release notes stay up, the panes are built.
  long peakKb = 0;
  for (int i = 0; i < 50; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmHWM:", 0) == 0) peakKb = std::max(peakKb, std::atol(line.c_str() + 6));
    }
  }
  ::kill(pid, SIGTERM);
  int waited = 0;
  ::waitpid(pid, &waited, 0);
  bench::Report("rss_mb_1m_cards", static_cast<double>(peakKb) / 1024.0, "MB");
}
