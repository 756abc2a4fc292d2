#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need; silent when all are there.
set -euo pipefail
packages=(cmake g++ qt6-base-dev libcurl4-openssl-dev zlib1g-dev nlohmann-json3-dev
          libgtest-dev libcpp-httplib-dev zip unzip xvfb xauth xdotool libgl-dev qt6-qpa-plugins pkg-config openssl gzip
          ccache libxcb1-dev)
packages+=(dpkg-dev fakeroot lintian desktop-file-utils appstream)  # the Debian packages and their checks
packages+=(python3)  # the zip tests write some archives with Python's zipfile
packages+=(libsodium-dev minisign libssl-dev ca-certificates)  # signed packages and HTTPS
packages+=(nginx-light)  # the HTTP/2 server the network tests run on 127.0.0.1
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "setup: installing ${missing[*]}"
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
$sudo_cmd apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
