#!/usr/bin/env bash
# Time from starting the program to its main window being mapped on an X server
# (Xvfb), over several starts; prints each time and the median.
#   bench/startup.sh <path-to-pellmor> [runs]
set -euo pipefail
binary=${1:?path to the pellmor binary}
runs=${2:-9}

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
export DISPLAY=$display QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

config=$(mktemp -d)
times=()
for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    XDG_CONFIG_HOME=$config "$binary" &
    pid=$!
    # xdotool's own --sync polls twice a second; poll faster.
    until xdotool search --onlyvisible --name '^Pellmor$' >/dev/null 2>&1; do sleep 0.005; done
    end=$(date +%s%N)
    kill "$pid"; wait "$pid" 2>/dev/null || true
    times+=($(( (end - start) / 1000000 )))
done
rm -rf "$config"
printf 'start-up to visible window (ms): %s\n' "${times[*]}"
printf 'median: %s ms\n' "$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")"
