#!/bin/sh
# Takes docs/window.png: the window under Xvfb with a finished report on the shipped sample
# captures (device row 0 unless DEVICE says otherwise).
# Usage: scripts/screenshot.sh [build-dir]     (default: build)
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
device=${DEVICE:-0}
cmake --build "$build" --target window_screenshot_driver >/dev/null
driver=$(cd "$build" && pwd)/app/window_screenshot_driver

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p docs
# The run writes out.pcm into its working directory: keep it out of the tree.
cd "$work"
ln -s "$root/samples" samples
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
    "$1" samples/rx.pcm samples/tx.pcm "$3" >id.txt 2>driver.log &
    pid=$!
    for i in $(seq 1 600); do
        [ -s id.txt ] && break
        sleep 0.1
    done
    if [ ! -s id.txt ]; then echo "the window did not come up" >&2; cat driver.log >&2; kill $pid; exit 1; fi
    import -window "$(cat id.txt)" "$2/docs/window.png"
    kill $pid
    cat driver.log >&2
' sh "$driver" "$root" "$device"
echo "wrote docs/window.png"
