// `torvane demo`: the program on its bundled marketplace simulator, with a seeded shop,
// orders arriving every few seconds and a local mail server for e-mail deliveries.
#pragma once

#include <filesystem>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "delivery/delivery_run.h"

namespace torvane {

struct DemoOptions {
  std::filesystem::path programDir;  // where torvane lies; market-sim and the mail server are found beside it
  std::function<void(const std::string&)> printLine;  // each activity line (GBK)
  bool sayProgress = true;  // the preparation's lines on standard output
};

class ChildProcess;

// What the demo runs on: the simulator and the local mail server (both stopped when this goes), a
// directory with the demo's configuration and a seeded shop, and a login to the simulated marketplace
// in the cookie file.
// The stand-in chat client in a wine prefix, so that chat orders are delivered too. Making a prefix
// takes a while and hundreds of megabytes: one is kept in the user's cache and reused.
struct DemoChat {
  std::filesystem::path prefix;
  std::filesystem::path transcript;  // the messages the client received, readable
  std::string problem;               // why chat orders wait instead (GBK); empty when the client is ready
};

struct DemoEnvironment {
  std::filesystem::path root;       // everything of this demo lies below it
  std::filesystem::path configDir;  // 部署配置.ini pointing at the simulator, 配置文件.ini (mail, 30 s)
  std::filesystem::path dataDir;    // stores with the seeded cards, 宝贝名称.txt, cookies.txt
  std::string simBase;              // http://127.0.0.1:port of the simulator
  int smtpPort = 0;                 // the local mail server's port; 0 when there is none
  std::filesystem::path mailLog;    // what the mail server received
  std::unique_ptr<ChildProcess> sim;
  std::unique_ptr<ChildProcess> smtp;
  DemoChat chat;                    // the stand-in chat client under wine, when wine is there

  DemoEnvironment();
  ~DemoEnvironment();
  // The line said after each delivery pass: orders, deliveries, failures, cards left, mails and chat
  // messages received.
  std::string SummaryLine(int pass, const DeliverySummary& summary, std::int64_t cardsLeft) const;
};

// The demo's account on its local mail server.
inline constexpr const char* kDemoMailUser = "demo";
inline constexpr const char* kDemoMailPassword = "demo-password";

// Writes the demo shop's 部署配置.ini (every service at the simulator's simBase, the local mail server at
// smtpPort when it is above 0, the stand-in chat client's prefix when chat is ready) and its 配置文件.ini.
// False with error (GBK) when a file cannot be written.
bool WriteDemoConfig(const std::filesystem::path& configDir, const std::string& simBase, int smtpPort,
                     const DemoChat& chat, std::string* error);

// Starts the simulator (and the mail server when Debian's aiosmtpd is there), writes the configuration,
// seeds the shop and logs in to it; with sayProgress, what it set up is said on standard output.
// nullptr with error (GBK) when a step fails.
std::unique_ptr<DemoEnvironment> PrepareDemo(const DemoOptions& options, std::string* error);

// Runs until SIGINT/SIGTERM; 0 on a normal end, 1 when the simulator cannot be started.
int RunDemo(const DemoOptions& options);

}  // namespace torvane
