#!/usr/bin/env bash
# Shows the progress band over a blocked main thread under Xvfb and saves screenshots of
# the screen at a few moments, so that a person can look at the busy animation and the bar.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target quarnell-progress-demo quarnell-screenshot
out="$(mktemp -d /tmp/progress-demo.XXXXXX)"
export DISPLAY=:94
Xvfb "$DISPLAY" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
QT_QPA_PLATFORM=xcb "$root/build/tools/quarnell-progress-demo" &
demo=$!
for moment in 1.5 2.0 2.5 6.5; do
  sleep 0.5
  [ "$moment" = 6.5 ] && sleep 3.5
  QT_QPA_PLATFORM=xcb "$root/build/tools/quarnell-screenshot" 0 "$out/band-$moment.png"
done
wait $demo
echo "screenshots: $out"
ls "$out"
