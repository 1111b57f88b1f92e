// Card store figures: importing a large batch (into an empty and a large store), taking one card
// from a large inventory, a reusable item's take beside a million sent records, and opening a large
// store (which reads every page of both files to refuse a damaged one).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "bench.h"
#include "store/inventory_commands.h"
#include "store/record_store.h"

namespace {

std::unique_ptr<torvane::CardStores> OpenIn(const std::filesystem::path& dir) {
  torvane::StoreError error;
  auto stores = torvane::CardStores::Open(dir, &error);
  if (!stores) std::fprintf(stderr, "store bench: %s\n", error.message.c_str());
  return stores;
}

// Adds items x cardsPerItem cards, the items interleaved as cards of many items arrive over time.
bool FillCards(torvane::CardStores& stores, const std::string& tag, int items, int cardsPerItem) {
  std::vector<std::vector<std::string>> cards;
  cards.reserve(static_cast<std::size_t>(items) * static_cast<std::size_t>(cardsPerItem));
  for (int c = 0; c < cardsPerItem; ++c) {
    for (int i = 0; i < items; ++i) {
      cards.push_back({"item-" + std::to_string(i), "card-" + std::to_string(c) + "-" + std::to_string(i),
                       "secret-" + std::to_string(c * 31 + i), "note"});
    }
  }
  if (stores.Inventory().AppendMany(cards) == cards.size()) return true;
  std::fprintf(stderr, "%s: fill failed (%s)\n", tag.c_str(), torvane::LastStoreError().c_str());
  return false;
}

}  // namespace

TORVANE_BENCH("import_100k_s") {
  auto stores = OpenIn(bench::ScratchDir("store-import"));
  if (!stores) return;
  std::string text;
  text.reserve(100000 * 40);
  for (int i = 0; i < 100000; ++i) {
    text += "CARD" + std::to_string(1000000 + i) + ",SECRET-" + std::to_string(i * 7919) + "-ABCDEFGH\r\n";
  }
  auto start = std::chrono::steady_clock::now();
  torvane::CommandOutcome out = torvane::AddCardsBatch(*stores, "游戏点卡100元", text, "充值地址见店铺首页");
  double seconds = bench::SecondsSince(start);
  if (out.count != 100000) {
    std::fprintf(stderr, "import_100k_s: added %zu (%s)\n", out.count, torvane::LastStoreError().c_str());
    return;
  }
  bench::Report("import_100k_s", seconds, "s");
}

// The same import into a store that already holds 1,000,000 cards and 100,000 sent records, every
// card looked up as a possible duplicate. The look-up indexes are built by the first add on a store
// that lacks them (once per installation): card_index_1m_s is that one-time cost.
TORVANE_BENCH("import_100k_1m_s") {
  auto stores = OpenIn(bench::ScratchDir("store-import-1m"));
  if (!stores) return;
  std::vector<std::vector<std::string>> fill;
  fill.reserve(1000000);
  for (int i = 0; i < 1000000; ++i) {
    fill.push_back({"item-" + std::to_string(i % 1000), "OLD" + std::to_string(i), "SECRET-" + std::to_string(i), "n"});
  }
  std::vector<std::vector<std::string>> sent;
  sent.reserve(100000);
  for (int i = 0; i < 100000; ++i) {
    sent.push_back({"item", std::to_string(i), "buyer", "1", "SENT" + std::to_string(i), "S" + std::to_string(i), "n",
                    "旺旺发送", "time"});
  }
  if (stores->Inventory().AppendMany(fill) != fill.size() || stores->Sent().AppendMany(sent) != sent.size()) {
    std::fprintf(stderr, "import_100k_1m_s: fill failed (%s)\n", torvane::LastStoreError().c_str());
    return;
  }
  fill.clear();
  fill.shrink_to_fit();
  auto indexStart = std::chrono::steady_clock::now();
  if (!stores->AddCards({{"item-0", "FIRST", "FIRST", "n"}}, torvane::DuplicatePolicy::kRefuse)) return;
  double indexSeconds = bench::SecondsSince(indexStart);

  std::string text;
  text.reserve(100000 * 40);
  for (int i = 0; i < 100000; ++i) {
    text += "CARD" + std::to_string(1000000 + i) + ",SECRET-" + std::to_string(i * 7919) + "-ABCDEFGH\r\n";
  }
  auto start = std::chrono::steady_clock::now();
  torvane::CommandOutcome out = torvane::AddCardsBatch(*stores, "游戏点卡100元", text, "充值地址见店铺首页");
  double seconds = bench::SecondsSince(start);
  if (out.count != 100000) {
    std::fprintf(stderr, "import_100k_1m_s: added %zu (%s)\n", out.count, out.message.c_str());
    return;
  }
  bench::Report("import_100k_1m_s", seconds, "s");
  bench::Report("card_index_1m_s", indexSeconds, "s");
}

// Mean time of TakeCards of one card from a store of items x cardsPerItem cards, over 50 takes
// from random items. Every take is a durable commit across both files, so the figure is bounded
// below by the disk's flush time (see store_fsync_ms); the store size must not matter.
static double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Mean wall time per take in ms; cpuMs gets the mean processor time per take (no disk wait).
static double MeanTakeMs(const std::string& tag, int items, int cardsPerItem, double* cpuMs = nullptr) {
  constexpr int kTakes = 50;
  auto stores = OpenIn(bench::ScratchDir(tag));
  if (!stores || !FillCards(*stores, tag, items, cardsPerItem)) return -1;
  // Stores that have seen an import carry the duplicate look-up indexes, which every take updates.
  if (!stores->AddCards({}, torvane::DuplicatePolicy::kAdd)) {
    std::fprintf(stderr, "%s: index failed (%s)\n", tag.c_str(), torvane::LastStoreError().c_str());
    return -1;
  }

  std::mt19937 random(12345);
  std::uniform_int_distribution<int> pick(0, items - 1);
  double total = 0;
  double cpu = 0;
  for (int t = 0; t < kTakes; ++t) {
    std::string item = "item-" + std::to_string(pick(random));
    auto start = std::chrono::steady_clock::now();
    double cpuStart = CpuSeconds();
    auto taken = stores->TakeCards(item, 1, "order-" + std::to_string(t), "buyer", "1", "note", "发货中", "time");
    cpu += CpuSeconds() - cpuStart;
    total += bench::SecondsSince(start);
    if (taken.size() != 1) {
      std::fprintf(stderr, "%s: nothing taken (%s)\n", tag.c_str(), torvane::LastStoreError().c_str());
      return -1;
    }
  }
  if (cpuMs) *cpuMs = cpu / kTakes * 1000.0;
  return total / kTakes * 1000.0;
}

TORVANE_BENCH("take_card_1m_ms") {
  double cpuMs = 0;
  double ms = MeanTakeMs("store-take-1m", 1000, 1000, &cpuMs);
  if (ms < 0) return;
  bench::Report("take_card_1m_ms", ms, "ms");
  bench::Report("take_card_1m_cpu_ms", cpuMs, "ms");
}

TORVANE_BENCH("take_card_1k_ms") {
  double cpuMs = 0;
  double ms = MeanTakeMs("store-take-1k", 100, 10, &cpuMs);
  if (ms < 0) return;
  bench::Report("take_card_1k_ms", ms, "ms");
  bench::Report("take_card_1k_cpu_ms", cpuMs, "ms");
}

// Mean time of a reusable item's take (two codes, handed out in turn) over 50 orders, with 1,000,000
// sent records of 1000 items, a tenth of them the reusable item's. Each take finds the item's latest
// record through the index on the item name; the first take on a store builds that index (once per
// installation): reusable_index_1m_s is that one-time cost.
TORVANE_BENCH("take_reusable_1m_ms") {
  const std::string tag = "take_reusable_1m_ms";
  auto stores = OpenIn(bench::ScratchDir("store-take-reusable-1m"));
  if (!stores) return;
  if (stores->Inventory().AppendMany({{"shared", "LINK-A", "A", "n"}, {"shared", "LINK-B", "B", "n"}}) != 2) return;
  for (int chunk = 0; chunk < 10; ++chunk) {
    std::vector<std::vector<std::string>> sent;
    sent.reserve(100000);
    for (int i = chunk * 100000; i < (chunk + 1) * 100000; ++i) {
      const bool shared = i % 10 == 0;
      sent.push_back({shared ? "shared" : "item-" + std::to_string(i % 1000), "old-" + std::to_string(i), "buyer", "1",
                      shared ? "LINK-A" : "card-" + std::to_string(i), shared ? "A" : "secret", "n", "旺旺发送",
                      "time"});
    }
    if (stores->Sent().AppendMany(sent) != sent.size()) {
      std::fprintf(stderr, "%s: fill failed (%s)\n", tag.c_str(), torvane::LastStoreError().c_str());
      return;
    }
  }
  constexpr int kTakes = 50;
  double indexSeconds = 0;
  double total = 0;
  std::string last = "LINK-A";
  for (int t = 0; t <= kTakes; ++t) {
    auto start = std::chrono::steady_clock::now();
    auto taken = stores->TakeReusableCards("shared", 1, "order-" + std::to_string(t), "buyer", "1", "n", "发货中", "time");
    (t == 0 ? indexSeconds : total) += bench::SecondsSince(start);
    if (taken.size() != 1 || taken[0].Field(5) == last) {
      std::fprintf(stderr, "%s: take %d gave no code in turn (%s)\n", tag.c_str(), t, torvane::LastStoreError().c_str());
      return;
    }
    last = taken[0].Field(5);
  }
  bench::Report("reusable_index_1m_s", indexSeconds, "s");
  bench::Report(tag, total / kTakes * 1000.0, "ms");
}

// Opening a store of 1,000,000 cards with 100,000 sent records. The files were just written, so
// they come from the system's file cache: a first start after a reboot reads them from the disk.
TORVANE_BENCH("store_check_1m_s") {
  std::filesystem::path dir = bench::ScratchDir("store-check-1m");
  {
    auto stores = OpenIn(dir);
    if (!stores || !FillCards(*stores, "store_check_1m_s", 1000, 1000)) return;
    std::vector<std::vector<std::string>> sent;
    for (int i = 0; i < 100000; ++i) {
      sent.push_back({"item-" + std::to_string(i % 1000), "order-" + std::to_string(i), "buyer", "1",
                      "card-" + std::to_string(i), "secret-" + std::to_string(i), "note", "旺旺发送", "time"});
    }
    if (stores->Sent().AppendMany(sent) != sent.size()) {
      std::fprintf(stderr, "store_check_1m_s: fill failed (%s)\n", torvane::LastStoreError().c_str());
      return;
    }
  }
  auto start = std::chrono::steady_clock::now();
  auto stores = OpenIn(dir);
  double seconds = bench::SecondsSince(start);
  if (!stores) return;
  bench::Report("store_check_1m_s", seconds, "s");
}

// One small write flushed to disk in the store directory: the floor under every durable commit.
TORVANE_BENCH("store_fsync_ms") {
  std::filesystem::path file = bench::ScratchDir("store-fsync") / "probe";
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  constexpr int kRounds = 50;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRounds; ++i) {
    if (::write(fd, "x", 1) != 1 || ::fsync(fd) != 0) {
      ::close(fd);
      return;
    }
  }
  double seconds = bench::SecondsSince(start);
  ::close(fd);
  bench::Report("store_fsync_ms", seconds / kRounds * 1000.0, "ms");
}
