// `torvane demo`: the program on its bundled marketplace simulator, with a seeded shop,
// orders arriving every few seconds and a local mail server for e-mail deliveries.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace torvane {

struct DemoOptions {
  std::filesystem::path programDir;  // where torvane lies; market-sim and the mail server are found beside it
  std::function<void(const std::string&)> printLine;  // each activity line (GBK)
};

// Runs until SIGINT/SIGTERM; 0 on a normal end, 1 when the simulator cannot be started.
int RunDemo(const DemoOptions& options);

}  // namespace torvane
