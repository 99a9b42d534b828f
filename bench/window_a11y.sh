#!/bin/sh
# The compare runs of bench_window with the accessibility bus off, on, on with
# a client reading the result list twice a second, and on with a client that
# also follows the events a screen reader follows. Needs a display (DISPLAY or
# QT_QPA_PLATFORM=offscreen), dbus-run-session, at-spi2-core and
# python3-pyatspi.
#
#   window_a11y.sh build/release/bench/bench_window [compare options...]
set -eu
bench=$1
shift
run() {
    echo "== $1"
    shift
    "$@" 2>&1 | grep -v -e '^dbus-daemon' -e 'XDG_RUNTIME_DIR' -e 'SpiRegistry daemon'
}
# "disabled:" keeps libdbus from starting a session bus of its own on the display.
run "accessibility bus off" env -u QT_LINUX_ACCESSIBILITY_ALWAYS_ON DBUS_SESSION_BUS_ADDRESS=disabled: \
    "$bench" compare "$@"
run "bus on, no client" dbus-run-session -- env QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    "$bench" compare "$@"
run "bus on, client reading the list" dbus-run-session -- env QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    "$bench" compare "$@" --a11y-client
run "bus on, client reading and following events" dbus-run-session -- \
    env QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$bench" compare "$@" --a11y-listen
