#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/cli.h"
#include "app/paths.h"
#include "base/text.h"
#include "gui/desktop_app.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  // A closed reader of our output (`torvane run | head -1`) must not end a delivery mid-way, and a
  // file opened later must not take the number of a closed standard stream.
  torvane::PrepareStandardStreams();
  // "torvane", "torvane --demo", with --config-dir DIR and --data-dir DIR, open the window; anything
  // else is a command.
  const torvane::CommandLine line = torvane::ParseCommandLine(argc, argv);
  if (line.exitStatus) return *line.exitStatus;
  if (line.command != torvane::Command::kWindow) return torvane::RunCommand(line);
  torvane::WindowOptions window;
  window.programDir = torvane::ProgramDirectory();
  window.demo = line.args.Flag("demo");
  torvane::PathOptions pathOptions;
  if (line.args.Has("config-dir")) pathOptions.configDir = line.args.options.at("config-dir");
  if (line.args.Has("data-dir")) pathOptions.dataDir = line.args.options.at("data-dir");
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
