#!/usr/bin/env bash
# Builds the tests of the parts that run on several threads (delivery and scheduler, activity log,
# notices, cookie store, the stores' and mail sender's concurrent tests, and the window's hand-off of
# workers' requests to its own thread) with ThreadSanitizer in build-tsan and runs them. Any data race,
# lock-order inversion or other report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# -O1 with line tables only, as ThreadSanitizer advises: reports keep file and line, the build is quicker.
cmake -S . -B build-tsan -G Ninja -DTORVANE_WERROR=ON -DTORVANE_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" -DTORVANE_WINDOWS_TOOLS=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target base_tests web_tests notify_tests delivery_tests store_tests gui_tests

export TSAN_OPTIONS="halt_on_error=1 abort_on_error=1 second_deadlock_stack=1 history_size=4"
ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L delivery
ctest --test-dir build-tsan --output-on-failure -j"$jobs" \
  -R '^(Activity[A-Za-z]*|NoticesTest|CookieStoreTest|CookieAcceptance|WebTest|BlacklistAppendMany|TakeCards)\.|^MailServerTest\.Concurrent'

# The window's worker hand-off on the offscreen platform (not the login window's browser); Qt itself is
# not instrumented, see tests/tsan/qt.supp. No crash handler: a report ends the program at once.
TSAN_OPTIONS="$TSAN_OPTIONS suppressions=$PWD/tests/tsan/qt.supp" QT_QPA_PLATFORM=offscreen \
  timeout -s KILL 120 build-tsan/tests/gui_tests -nocrashhandler workerRequestsReachTheUiThread \
  settingsPaneCommands lifeCycleFromReleaseNotesToExit
