#include "base/activity_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "support/deadline.h"
#include "support/temp_dir.h"
#include "base/text.h"

namespace torvane {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

std::filesystem::path HistoryFile(const TempDir& dir) { return dir / std::filesystem::path(u8"历史记录.log"); }

TEST(ActivityLine, DateTimeFormsOfTheStamp) {
  std::tm t{};
  t.tm_year = 2012 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  EXPECT_EQ(FormatDateTime(t), "2012年3月5日");
  t.tm_hour = 9;
  EXPECT_EQ(FormatDateTime(t), "2012年3月5日9时");
  t.tm_min = 5;
  EXPECT_EQ(FormatDateTime(t), "2012年3月5日9时5分");
  t.tm_sec = 7;
  EXPECT_EQ(FormatDateTime(t), "2012年3月5日9时5分7秒");
}

TEST(ActivityLine, NewestLineFirstWithStampAndCrLf) {
  TempDir dir;
  ActivityLog log(HistoryFile(dir));
  const std::string before = NowDateTimeText();
  log.LogActivity("A");
  log.LogActivity("B\r\nsecond row");
  const std::string after = NowDateTimeText();
  const std::string text = log.Text();

  auto lines = SplitText(text, "\r\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "second row");  // a message keeps its own line breaks
  for (const std::string* line : {&lines[0], &lines[2]}) {
    ASSERT_EQ(line->front(), '[');
    std::string stamp = line->substr(1, line->find("] ") - 1);
    EXPECT_TRUE(stamp == before || stamp == after) << stamp;
  }
  EXPECT_TRUE(lines[0].ends_with("] B"));
  EXPECT_TRUE(lines[2].ends_with("] A"));
}

TEST(ActivityHistory, MissingFileIsEmptyAndUnreadableFileLeavesLogAlone) {
  TempDir dir;
  ActivityLog log(HistoryFile(dir));
  log.LogActivity("before load");
  std::string error = "stale";
  ASSERT_TRUE(log.LoadHistory(&error));
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(log.Text(), "");  // loading replaces what the log held

  log.LogActivity("kept");
  const std::string held = log.Text();
  std::filesystem::create_directory(HistoryFile(dir));
  EXPECT_FALSE(log.LoadHistory(&error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(log.Text(), held);

  // What could not be read is never replaced by the lines of this run, even once it is readable.
  std::filesystem::remove(HistoryFile(dir));
  WriteBytes(HistoryFile(dir), "[2026年1月1日] earlier\r\n");
  EXPECT_FALSE(log.SaveHistory(&error));
  EXPECT_EQ(ReadBytes(HistoryFile(dir)), "[2026年1月1日] earlier\r\n");
}

TEST(ActivityHistory, ExitAndRestartKeepsEveryLineInOrder) {
  TempDir dir;
  std::string firstRun;
  {
    ActivityLog log(HistoryFile(dir));
    WriteBytes(HistoryFile(dir), std::string("[2011年1月1日] old\r\n") + std::string("\0\xFF", 2) + "\r\n");
    ASSERT_TRUE(log.LoadHistory());
    log.LogActivity("程序启动完成");
    log.LogActivity("程序退出完成");
    std::string error;
    ASSERT_TRUE(log.SaveHistory(&error)) << error;
    firstRun = log.Text();
  }
  EXPECT_EQ(ReadBytes(HistoryFile(dir)), firstRun);
  EXPECT_NE(firstRun.find("程序退出完成"), std::string::npos);
  EXPECT_LT(firstRun.find("程序退出完成"), firstRun.find("程序启动完成"));

  ActivityLog again(HistoryFile(dir));
  ASSERT_TRUE(again.LoadHistory());
  EXPECT_EQ(again.Text(), firstRun);
  again.LogActivity("程序启动完成");
  const std::string text = again.Text();
  ASSERT_GT(text.size(), firstRun.size());
  EXPECT_EQ(text.substr(text.size() - firstRun.size()), firstRun);
  EXPECT_EQ(text.find("程序启动完成"), text.find("] ") + 2);
}

TEST(ActivityHistory, SaveOnlyWhenChangedAndRetryAfterFailure) {
  TempDir dir;
  ActivityLog log(HistoryFile(dir));
  ASSERT_TRUE(log.LoadHistory());
  log.LogActivity("one");
  ASSERT_TRUE(log.SaveHistoryIfChanged());
  ASSERT_TRUE(std::filesystem::remove(HistoryFile(dir)));
  ASSERT_TRUE(log.SaveHistoryIfChanged());
  EXPECT_FALSE(std::filesystem::exists(HistoryFile(dir)));  // nothing new: no write

  // A failed save leaves the log marked changed, so the next attempt writes it.
  std::filesystem::create_directory(HistoryFile(dir));
  log.LogActivity("two");
  std::string error;
  EXPECT_FALSE(log.SaveHistoryIfChanged(&error));
  EXPECT_FALSE(error.empty());
  std::filesystem::remove(HistoryFile(dir));
  ASSERT_TRUE(log.SaveHistoryIfChanged());
  EXPECT_EQ(ReadBytes(HistoryFile(dir)), log.Text());
  EXPECT_EQ(SplitText(log.Text(), "\r\n").size(), 2u);
}

class RecordingSink : public ActivitySink {
 public:
  explicit RecordingSink(const ActivityLog& log) : log_(log) {}
  void OnActivityLine(const std::string& line) override {
    // Reading the log from the sink would deadlock if the log still held its lock.
    inLogWhenCalled.push_back(log_.Text().find(line) == 0);
    lines.push_back(line);
  }
  std::vector<bool> inLogWhenCalled;
  std::vector<std::string> lines;

 private:
  const ActivityLog& log_;
};

TEST(ActivitySinkCalls, SinkGetsEachLineAfterItIsInTheLog) {
  TempDir dir;
  ActivityLog log(HistoryFile(dir));
  RecordingSink sink(log);
  log.SetSink(&sink);
  log.LogActivity("A");
  log.LogActivity("B");
  log.SetSink(nullptr);
  log.LogActivity("C");
  ASSERT_EQ(sink.lines.size(), 2u);
  EXPECT_TRUE(sink.lines[0].ends_with("] A\r\n"));
  EXPECT_TRUE(sink.lines[1].ends_with("] B\r\n"));
  EXPECT_EQ(sink.inLogWhenCalled, (std::vector<bool>{true, true}));
}

// Keeps the lines in the order the sink got them (the terminal's order). Printing takes a varying
// time, as writing to a terminal does, so lines handed over at once would come out reordered.
class OrderSink : public ActivitySink {
 public:
  void OnActivityLine(const std::string& line) override {
    std::this_thread::sleep_for(std::chrono::microseconds(10 * (std::hash<std::string>{}(line) % 4)));
    std::lock_guard lock(mutex);
    lines.push_back(line);
  }
  std::mutex mutex;
  std::vector<std::string> lines;
};

TEST(ActivityConcurrency, LinesFromManyThreadsAreAllKeptAcrossSavesAndPrintedInTheLogsOrder) {
  TempDir dir;
  ActivityLog log(HistoryFile(dir));
  WriteBytes(HistoryFile(dir), "[2011年1月1日] old\r\n");
  ASSERT_TRUE(log.LoadHistory());
  OrderSink sink;
  log.SetSink(&sink);
  constexpr int kThreads = 4;
  constexpr int kLines = 1500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i) log.LogActivity("t" + std::to_string(t) + "-" + std::to_string(i));
    });
  }
  std::thread saver([&log] {
    for (int i = 0; i < 20; ++i) log.SaveHistory();
  });
  threads.push_back(std::move(saver));
  test::JoinWithin(threads, "the logging and saving threads");
  ASSERT_TRUE(log.SaveHistory());

  const std::string text = log.Text();
  EXPECT_EQ(ReadBytes(HistoryFile(dir)), text);
  EXPECT_TRUE(text.ends_with("] old\r\n"));
  auto lines = SplitText(text, "\r\n");
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines + 1));
  std::set<std::string> messages;
  std::vector<int> lastSeen(kThreads, kLines);  // newest first: each thread's numbers must fall
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    std::string message = lines[i].substr(lines[i].find("] ") + 2);
    messages.insert(message);
    int t = message[1] - '0';
    int n = std::stoi(message.substr(3));
    EXPECT_LT(n, lastSeen[t]);
    lastSeen[t] = n;
  }
  EXPECT_EQ(messages.size(), static_cast<std::size_t>(kThreads * kLines));

  log.SetSink(nullptr);
  std::string printed;  // the printed lines newest first, as the log keeps them
  for (auto it = sink.lines.rbegin(); it != sink.lines.rend(); ++it) printed += *it;
  EXPECT_TRUE(printed + "[2011年1月1日] old\r\n" == text) << "the terminal's order differs from the log's";
}

TEST(ActivityAutosave, WritesAfterAChangeAndStopsCleanly) {
  TempDir dir;
  auto log = std::make_unique<ActivityLog>(HistoryFile(dir));
  ASSERT_TRUE(log->LoadHistory());
  log->StartAutosave(std::chrono::seconds(1));
  log->LogActivity("autosaved");
  // Wait for the saver (a deadline only against hanging; no speed is asserted).
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ReadBytes(HistoryFile(dir)).find("autosaved") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(ReadBytes(HistoryFile(dir)), log->Text());
  log->StartAutosave(std::chrono::seconds(60));  // restart with another period
  log->StopAutosave();
  log->StopAutosave();
  log->StartAutosave(std::chrono::seconds(60));
  log.reset();  // the destructor stops the running saver
}

}  // namespace
}  // namespace torvane
