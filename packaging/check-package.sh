#!/usr/bin/env bash
# Checks the Debian package of Torvane: its fields and declared dependencies, the files in place and owned
# by root, the installed programs' --version and --help, the icons' sizes, the man pages; and, when they
# are installed, lintian (no error), desktop-file-validate and systemd-analyze verify on the units.
#   check-package.sh PACKAGE.deb VERSION        check a built package
#   check-package.sh --build BUILD-DIR VERSION  build it first with cpack into a temporary directory
# Exit status 0 when every check passed, 1 otherwise (each failure named on standard error).
set -euo pipefail

work=$(mktemp -d "${TMPDIR:-/tmp}/torvane-package-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
note() { echo "-- $*"; }

if [ "${1:-}" = "--build" ]; then
  [ $# -eq 3 ] || { echo "usage: $0 --build BUILD-DIR VERSION" >&2; exit 2; }
  started=$(date +%s)
  cpack -G DEB --config "$2/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack did not build the package" >&2
    exit 1
  }
  deb=$(ls "$work"/out/torvane_*.deb)
  note "cpack built $(basename "$deb") in $(($(date +%s) - started)) s"
  version=$3
else
  [ $# -eq 2 ] || { echo "usage: $0 PACKAGE.deb VERSION | --build BUILD-DIR VERSION" >&2; exit 2; }
  deb=$1
  version=$2
fi

# The control fields, and dependencies computed from the programs' libraries.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = torvane ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', expected $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
depends=$(field Depends)
declared=$(sed -E 's/ \([^)]*\)//g; s/, /\n/g' <<<"$depends")
for package in libc6 'libstdc\+\+6' libcurl4 libsqlite3-0 libpsl5 'libopencc[0-9.]+' libqt6core6 libqt6widgets6 \
               libqt6svg6 libqt6charts6 libqt6webenginewidgets6 libqt6webenginecore6-bin adduser; do
  grep -qxE "$package" <<<"$declared" || fail "Depends does not name $package: $depends"
done
grep -q "(>= " <<<"$depends" || fail "Depends holds no version from the libraries' symbols: $depends"
# (Outputs are taken whole before grep -q reads them: an early exit of grep must not fail the pipe.)
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t)
for script in postinst postrm; do
  grep -qx "./$script" <<<"$control" || fail "no $script maintainer script"
done

# The files, each where Debian and the program look for it, all owned by root.
dpkg-deb --contents "$deb" >"$work/contents"
paths=$(awk '{print $6}' "$work/contents")
expected=(
  ./usr/bin/torvane ./usr/bin/market-sim ./usr/share/torvane/smtp_server.py
  ./usr/share/doc/torvane/copyright ./usr/share/doc/torvane/changelog.gz ./usr/share/doc/torvane/README.md
  ./usr/share/doc/torvane/部署配置.example.ini ./usr/share/doc/torvane/market-sim.md
  ./usr/share/man/man1/torvane.1.gz ./usr/share/man/man1/market-sim.1.gz
  ./usr/share/applications/torvane.desktop ./usr/share/icons/hicolor/scalable/apps/torvane.svg
  ./usr/lib/systemd/user/torvane.service ./usr/lib/systemd/system/torvane@.service
)
for size in 16 22 24 32 48 64 128 256; do expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/torvane.png"); done
for path in "${expected[@]}"; do
  grep -qxF "$path" <<<"$paths" || fail "the package lacks $path"
done
awk '$2 != "root/root" {print}' "$work/contents" | grep . && fail "entries not owned by root/root (above)"
bin_files=$(awk '$6 ~ /^\.\/usr\/bin\/./ {print $6}' "$work/contents" | sort | tr '\n' ' ')
[ "$bin_files" = "./usr/bin/market-sim ./usr/bin/torvane " ] || fail "usr/bin holds: $bin_files"
grep -vE '^\./(usr/(bin|share|lib)(/.*)?|usr)?/?$' <<<"$paths" && fail "files outside usr/bin, usr/share, usr/lib (above)"

# What it installs runs from its installed place.
dpkg-deb -x "$deb" "$work/root"
for program in torvane market-sim; do
  out=$("$work/root/usr/bin/$program" --version) || fail "$program --version exits $?"
  [ "$out" = "$program $version" ] || fail "$program --version printed '$out'"
  "$work/root/usr/bin/$program" --help >"$work/help" 2>&1 || fail "$program --help exits $?"
  grep -q "usage" "$work/help" || fail "$program --help printed no usage"
done
for size in 16 22 24 32 48 64 128 256; do
  kind=$(file "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/torvane.png")
  grep -q "PNG image data, $size x $size," <<<"$kind" || fail "the ${size}x${size} icon is not a $size x $size PNG"
done
for page in torvane market-sim; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
             "$work/root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null) || fail "man $page exits $?"
  [ -z "$warnings" ] || fail "man page $page.1: $warnings"
done
page=$(zcat "$work/root/usr/share/man/man1/torvane.1.gz")
grep -q "Torvane $version" <<<"$page" || fail "torvane.1 does not carry the version"

# The desktop's, systemd's and Debian's own checkers, where installed.
if command -v desktop-file-validate >/dev/null; then
  # Hints pass (Office;Network; are two main categories, as meant); errors and warnings do not.
  out=$(desktop-file-validate "$work/root/usr/share/applications/torvane.desktop" 2>&1) && status=0 || status=$?
  if [ "$status" -ne 0 ] || grep -qE ': (error|warning):' <<<"$out"; then
    fail "desktop-file-validate: $out"
  else
    note "desktop-file-validate: passed ${out:+($out)}"
  fi
else
  note "desktop-file-validate not installed (desktop-file-utils): skipped"
fi

if command -v systemd-analyze >/dev/null; then
  # The units as installed, their program the extracted one (verify requires it to exist).
  mkdir -p "$work/units" "$work/runtime"
  chmod 700 "$work/runtime"
  sed "s#/usr/bin/torvane#$work/root/usr/bin/torvane#" "$work/root/usr/lib/systemd/system/torvane@.service" \
    >"$work/units/torvane@shop.service"
  sed "s#/usr/bin/torvane#$work/root/usr/bin/torvane#" "$work/root/usr/lib/systemd/user/torvane.service" \
    >"$work/units/torvane.service"
  # Anything it says (an unknown key, a bad value) is a failure, not only what it exits non-zero for.
  out=$(systemd-analyze verify --man=no "$work/units/torvane@shop.service" 2>&1) && status=0 || status=$?
  [ "$status" -eq 0 ] && [ -z "$out" ] || fail "systemd-analyze verify torvane@.service: $out"
  out=$(XDG_RUNTIME_DIR="$work/runtime" systemd-analyze verify --user --man=no "$work/units/torvane.service" 2>&1) &&
    status=0 || status=$?
  [ "$status" -eq 0 ] && [ -z "$out" ] || fail "systemd-analyze verify --user torvane.service: $out"
  note "systemd-analyze verify: passed"
else
  note "systemd-analyze not installed (systemd): the unit files were not verified"
fi

if command -v lintian >/dev/null; then
  started=$(date +%s)
  lintian --fail-on error --display-level ">=warning" "$deb" >"$work/lintian" 2>&1 || fail "lintian reports errors"
  cat "$work/lintian"
  note "lintian: $(grep -c '^E:' "$work/lintian" || true) errors, $(grep -c '^W:' "$work/lintian" || true) warnings in $(($(date +%s) - started)) s"
else
  note "lintian not installed: skipped"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures package checks failed" >&2
  exit 1
fi
note "every package check passed: $(basename "$deb")"
