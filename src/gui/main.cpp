#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/cli.h"
#include "gui/desktop_app.h"
#include "platform/process.h"

namespace {

// "torvane", "torvane --demo" and "torvane --config-dir DIR" open the window; the verbs stay on the terminal.
bool WindowArguments(int argc, char** argv, torvane::WindowOptions* options) {
  options->programDir = torvane::ProgramDirectory();
  options->configDir = options->programDir;
  options->dataDir = std::filesystem::current_path();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--demo") == 0) {
      options->demo = true;
    } else if (std::strcmp(argv[i], "--config-dir") == 0 && i + 1 < argc) {
      options->configDir = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed reader of our output (`torvane run | head -1`) must not end a delivery mid-way, and a
  // file opened later must not take the number of a closed standard stream.
  torvane::PrepareStandardStreams();
  torvane::WindowOptions window;
  if (WindowArguments(argc, argv, &window)) {
    const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
    if (!display) return torvane::UsageError("no display to open the window on; on a terminal use a command");
    return torvane::RunWindow(argc, argv, window);
  }
  return torvane::RunCommandLine(argc, argv);
}
