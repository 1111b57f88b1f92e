#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/cli.h"
#include "app/paths.h"
#include "base/text.h"
#include "gui/desktop_app.h"
#include "platform/process.h"

namespace {

// "torvane", "torvane --demo", with --config-dir DIR and --data-dir DIR (or --NAME=DIR), open the window;
// anything else is for the command line. problem says what is wrong with window arguments that are not right.
bool WindowArguments(int argc, char** argv, torvane::WindowOptions* options, torvane::PathOptions* paths,
                     std::string* problem) {
  options->programDir = torvane::ProgramDirectory();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--demo") {
      options->demo = true;
      continue;
    }
    std::string name = a, value;
    bool hasValue = false;
    if (auto eq = a.find('='); eq != std::string::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      hasValue = true;
    }
    if (name != "--config-dir" && name != "--data-dir") return false;
    if (!hasValue) {
      if (i + 1 >= argc) {
        *problem = name + " needs a value";
        return true;
      }
      value = argv[++i];
    }
    if (value.empty()) {
      *problem = name + " must not be empty";
      return true;
    }
    (name == "--config-dir" ? paths->configDir : paths->dataDir) = value;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed reader of our output (`torvane run | head -1`) must not end a delivery mid-way, and a
  // file opened later must not take the number of a closed standard stream.
  torvane::PrepareStandardStreams();
  torvane::WindowOptions window;
  torvane::PathOptions pathOptions;
  std::string problem;
  if (!WindowArguments(argc, argv, &window, &pathOptions, &problem)) return torvane::RunCommandLine(argc, argv);
  if (!problem.empty()) return torvane::UsageError(problem);
  const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
  if (!display) return torvane::UsageError("no display to open the window on; on a terminal use a command");
  // The demo brings its own directories.
  if (!window.demo) {
    std::string error;
    std::optional<torvane::SessionPaths> paths = torvane::ResolveSessionPaths(pathOptions, &error);
    if (!paths) {
      std::fprintf(stderr, "torvane: %s\n", torvane::GbkToUtf8(error).c_str());
      return 1;
    }
    window.configDir = paths->configDir;
    window.dataDir = paths->dataDir;
  }
  // Lets the desktop find the menu entry's name and icon for the window (torvane.desktop).
  QGuiApplication::setDesktopFileName(QStringLiteral("torvane"));
  return torvane::RunWindow(argc, argv, window);
}
