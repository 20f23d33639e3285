#!/bin/sh
# Starts the window on a virtual display with the accessibility bus of a private D-Bus
# session and reads it with atspi-tree.py. Usage: run-atspi.sh PATH/TO/brisko
# Exits 77 (CTest: skipped) when Xvfb, at-spi2-core or python3-pyatspi is missing.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
brisko=$1
if ! command -v xvfb-run >/dev/null 2>&1 || ! command -v dbus-run-session >/dev/null 2>&1 ||
   [ ! -x /usr/libexec/at-spi-bus-launcher ] || ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
  echo "SKIP: the accessibility-bus test needs xvfb, dbus, at-spi2-core and python3-pyatspi"
  exit 77
fi
if [ -z "${BRISKO_ATSPI_INNER:-}" ]; then
  # A session bus and a display of its own, whatever the caller has.
  BRISKO_ATSPI_INNER=1 exec xvfb-run -a -s '-screen 0 1280x900x24' dbus-run-session -- "$0" "$@"
fi

home=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$home"' EXIT INT TERM
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
export XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
# Screen readers turn this on; the window then puts itself on the accessibility bus.
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
  string:org.a11y.Status string:IsEnabled variant:boolean:true >/dev/null 2>&1 || true

"$brisko" >"$home/brisko.log" 2>&1 &
pid=$!
status=0
/usr/bin/python3 "$here/atspi-tree.py" brisko || status=$?
if [ "$status" -ne 0 ]; then
  echo "--- brisko's output"; cat "$home/brisko.log"
fi
exit "$status"
