#!/usr/bin/env bash
# Runs ombrevia-download against the bundled demo service on 127.0.0.1.
#   scripts/demo.sh [none|salva|installa]
# With DISPLAY set the window opens on your desktop; otherwise it runs under Xvfb, a
# screenshot of the window is saved, and "Salva" is pressed for you.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
operation="${1:-none}"
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target ombrevia-download quarnell-demo-service quarnell-screenshot

work="$(mktemp -d /tmp/ombrevia-demo.XXXXXX)"
# The session's runtime folder holds the tool's download lock; a bare shell may have none.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$work/run"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

# The package the service offers: a small zip made here.
mkdir -p "$work/packages" "$work/content"
printf '#!/bin/sh\necho "demo setup ran" > "$(dirname "$0")/setup-ran.txt"\n' > "$work/content/setup"
chmod +x "$work/content/setup"
head -c 2000000 /dev/urandom > "$work/content/data.bin"
(cd "$work/content" && zip -q -r "$work/packages/OmbreviaDemo.zip" setup data.bin)

# The maker's key pair, and the package signed with it as a maker would publish it.
minisign -G -W -p "$work/maker.pub" -s "$work/maker.key" >/dev/null
minisign -S -s "$work/maker.key" -m "$work/packages/OmbreviaDemo.zip" -t "OmbreviaDemo.zip, demo build" >/dev/null
public_key="$(sed -n 2p "$work/maker.pub")"

"$root/build/tools/quarnell-demo-service" "$work/packages" OmbreviaDemo.zip "$operation" > "$work/service.url" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/service.url" ] && break; sleep 0.1; done
service="$(cat "$work/service.url")"
echo "demo service: $service"

# A fresh system root whose common settings name the demo service and the maker's key, so
# that the package is verified before it is opened or started.
export QUARNELL_ROOT="$work/root"
mkdir -p "$QUARNELL_ROOT/Quarnell/Common"
printf '[SOFTWARE\\QUARNELL\\COMMON]\r\nDownloadServer=%s\r\nPackagePublicKey=%s\r\n' "$service" "$public_key" \
  > "$QUARNELL_ROOT/Quarnell/Common/qngcommon.ini"

if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:93
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
  "$root/build/app/ombrevia-download" &
  app=$!
  pids+=($app)
  window=""
  for _ in $(seq 100); do
    window="$(xdotool search --name 'Quarnell - download' 2>/dev/null | head -n 1 || true)"
    [ -n "$window" ] && break
    kill -0 "$app" 2>/dev/null || break  # a fast download may finish before the window is found
    sleep 0.1
  done
  if [ -z "$window" ] && kill -0 "$app" 2>/dev/null; then echo "the window did not appear" >&2; exit 1; fi
  [ -n "$window" ] && sleep 1.5  # the reply is applied and painted
  if [ -z "$window" ]; then
    echo "no screenshot: the reply's operation finished the download and closed the window at once"
  elif "$root/build/tools/quarnell-screenshot" "$window" "$work/window.png" 2>/dev/null; then
    echo "screenshot: $work/window.png"
  else
    echo "no screenshot: the reply's operation had already finished the download and closed the window"
  fi
  if [ "$operation" = none ] && kill -0 "$app" 2>/dev/null; then
    xdotool windowfocus --sync "$window" key --window "$window" space  # "Salva" holds the focus
  fi
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
else
  "$root/build/app/ombrevia-download"
fi

folder="$QUARNELL_ROOT/Quarnell/Download"
echo "download folder: $folder"
ls -l "$folder"
if [ -f "$folder/setup-ran.txt" ]; then echo "the signed package was verified and its setup ran"; fi
