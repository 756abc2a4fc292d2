#!/usr/bin/env bash
# Shows the progress band over a main thread that blocks right after starting it, under
# Xvfb, at scale factors 1 and 2, and saves screenshots of the screen at a few moments, so
# that a person can look at the band, the busy animation and the bar.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target quarnell-progress-demo quarnell-screenshot
out="$(mktemp -d /tmp/progress-demo.XXXXXX)"
# Xvfb picks a free display number and writes it once it is ready.
Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp 3>"$out/display" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$out/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$out/display")"
rm "$out/display"
shoot() { QT_QPA_PLATFORM=xcb "$root/build/tools/quarnell-screenshot" 0 "$out/$1.png"; }
for scale in 1 2; do
  QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale "$root/build/tools/quarnell-progress-demo" &
  demo=$!
  # Seconds after the start: the band at once, the dots further on, the nested bar.
  sleep 0.5 && shoot "band-${scale}x-0.5s"
  sleep 0.7 && shoot "band-${scale}x-1.2s"
  sleep 1.3 && shoot "band-${scale}x-2.5s"
  sleep 3.0 && shoot "band-${scale}x-5.5s"
  wait $demo
done
echo "screenshots: $out"
ls "$out"
