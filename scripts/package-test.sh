#!/usr/bin/env bash
# Builds the Debian packages and checks them as a machine that installs them would see them:
# lintian without errors, a valid menu entry and AppStream file, an install into a fresh
# root with dpkg (maintainer scripts included), the files and modes in place, every library
# the tool links covered by Depends, the downloads kept on removal and purge, and the
# development package giving find_package(Quarnell) to another project.
#   scripts/package-test.sh [build folder]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if ! command -v dpkg-deb >/dev/null; then
  echo "package test skipped: dpkg-deb is missing, so no Debian package can be built here"
  exit 0
fi
build="${1:-$root/build-package}"
bash "$root/scripts/package.sh" "$build"

version="$(sed -n 's/^project(Quarnell VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
arch="$(dpkg --print-architecture)"
app="$root/dist/ombrevia-download_${version}_${arch}.deb"
dev="$root/dist/libquarnell-dev_${version}_${arch}.deb"
app_id=example.quarnell.OmbreviaDownload
work="$(mktemp -d /tmp/quarnell-package-test.XXXXXX)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

echo "== lintian"
lintian --tag-display-limit 0 "$app" "$dev" > "$work/lintian.txt" 2>&1 || true
cat "$work/lintian.txt"
if grep -q '^E: ' "$work/lintian.txt"; then fail "lintian reports errors"; else ok "lintian: no errors"; fi

echo "== menu entry and AppStream data"
dpkg-deb -x "$app" "$work/unpacked"
desktop-file-validate "$work/unpacked/usr/share/applications/$app_id.desktop" && ok "desktop-file-validate" ||
  fail "desktop-file-validate"
appstreamcli validate --no-net "$work/unpacked/usr/share/metainfo/$app_id.metainfo.xml" && ok "appstreamcli validate" ||
  fail "appstreamcli validate"

echo "== install into a fresh root with dpkg"
fresh="$work/root"
mkdir -p "$fresh/var/lib/dpkg/info" "$fresh/var/lib/dpkg/updates" "$fresh/opt"
touch "$fresh/var/lib/dpkg/status" "$fresh/var/lib/dpkg/available"
# The maintainer scripts run outside a chroot and find the root in DPKG_ROOT; the fresh root
# has none of the dependencies, which are checked against this machine further down.
dpkg_root=(dpkg --root="$fresh" --log=/dev/null --force-script-chrootless --force-depends --force-not-root)
[ "$(id -u)" -eq 0 ] || dpkg_root=(fakeroot "${dpkg_root[@]}")
"${dpkg_root[@]}" -i "$app" "$dev" > "$work/dpkg.txt" 2>&1 || { cat "$work/dpkg.txt"; fail "dpkg -i"; }

mode_of() { stat -c %a "$1" 2>/dev/null || echo missing; }
expect_mode() {  # path, mode
  local got; got="$(mode_of "$fresh$1")"
  [ "$got" = "$2" ] && ok "$1 mode $2" || fail "$1 has mode $got, expected $2"
}
expect_mode /usr/bin/ombrevia-download 755
expect_mode /usr/share/applications/$app_id.desktop 644
expect_mode /usr/share/metainfo/$app_id.metainfo.xml 644
expect_mode /usr/share/man/man1/ombrevia-download.1.gz 644
expect_mode /usr/share/doc/ombrevia-download/copyright 644
expect_mode /usr/share/doc/libquarnell-dev/copyright 644
expect_mode /opt/Quarnell 755
expect_mode /opt/Quarnell/Download 1777
expect_mode /opt/Quarnell/Common 1777
expect_mode /opt/Quarnell/Common/Liste 1777
if readelf -h "$fresh/usr/bin/ombrevia-download" >/dev/null 2>&1 &&
   ! readelf -S "$fresh/usr/bin/ombrevia-download" | grep -q '\.symtab'; then
  ok "the executable is a stripped ELF file"
else fail "the executable is not a stripped ELF file"; fi
if "${dpkg_root[@]}" -L ombrevia-download | grep -q '^/opt'; then
  fail "the package owns files under /opt: dpkg would delete the shared folders with it"
else ok "the shared folders belong to nobody's package"; fi

png_size() {  # width x height from the PNG header
  od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'
}
for size in 48 64 128 256; do
  icon="$fresh/usr/share/icons/hicolor/${size}x${size}/apps/ombrevia-download.png"
  got="$( [ -f "$icon" ] && png_size "$icon" || echo missing)"
  [ "$got" = "${size}x${size}" ] && ok "icon ${size}x${size}" || fail "icon ${size}x${size}: $got"
done
grep -qx 'Icon=ombrevia-download' "$fresh/usr/share/applications/$app_id.desktop" &&
  grep -qx 'Exec=ombrevia-download' "$fresh/usr/share/applications/$app_id.desktop" &&
  ok "the menu entry starts ombrevia-download with its icon" || fail "the menu entry's Exec or Icon"

echo "== dependencies"
depends="$(dpkg-deb -f "$app" Depends)"
echo "Depends: $depends"
depended="$(tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/ .*//')"  # the package names alone
# Every library the executable names must come from a package in Depends; dpkg-shlibdeps
# gives the version the symbols in use need where the library's package records one.
package_of() {  # library path -> package on this machine
  local path="$1" alt
  for alt in "$path" "$(readlink -f "$path")" "${path/#\/lib\//\/usr\/lib\/}" "${path/#\/usr\/lib\//\/lib\/}"; do
    dpkg -S "$alt" 2>/dev/null | head -n 1 | cut -d: -f1 && return 0
  done
  return 1
}
ldd "$fresh/usr/bin/ombrevia-download" > "$work/ldd.txt"
while read -r soname; do
  # "name => path (address)", or the dynamic loader's "path (address)".
  path="$(awk -v name="$soname" '$1 == name && $2 == "=>" { print $3 }
                                   substr($1, length($1) - length(name)) == "/" name { print $1 }' "$work/ldd.txt" | head -n 1)"
  [ -n "$path" ] || { fail "$soname is not found on this machine"; continue; }
  package="$(package_of "$path")" || { fail "no package holds $path ($soname)"; continue; }
  if grep -qxF "$package" <<<"$depended"; then ok "$soname: $package"
  else fail "$soname comes from $package, which Depends lacks"; fi
done < <(readelf -d "$fresh/usr/bin/ombrevia-download" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for package in libc6 libqt6core6 libqt6widgets6; do
  grep -Eq "(^|, )$package \(>= [^)]+\)" <<<"$depends" && ok "$package with the version the symbols need" ||
    fail "$package without a version"
done
grep -Eq '(^|, )qt6-qpa-plugins($|,)' <<<"$depends" && ok "qt6-qpa-plugins (loaded at run time)" ||
  fail "Depends lacks qt6-qpa-plugins"

echo "== the development package"
headers="$(cd "$fresh/usr/include/quarnell" && find . -name '*.h' | sed 's|^\./||' | sort)"
echo "$headers" | sed 's/^/  /'
grep -Eq '^(tests|tools|app|bench|packaging)/' <<<"$headers" && fail "headers of the tool or its tests are installed"
grep -q 'CurlSupport.h' <<<"$headers" && fail "a private header is installed"
config="$(find "$fresh/usr/lib" -path '*/cmake/Quarnell/QuarnellConfig.cmake')"
[ -n "$config" ] && ok "QuarnellConfig.cmake" || fail "QuarnellConfig.cmake is missing"
targets="$(sed -n 's/^add_library(\(quarnell::[a-z_]*\) .*/\1/p' "$(dirname "$config")/QuarnellTargets.cmake" | sort -u | xargs)"
echo "exported targets: $targets"
# Every installed header compiles from the installed tree alone, with the exported targets.
mkdir -p "$work/headers"
sed 's|.*|#include "&"|' <<<"$headers" > "$work/headers/all.cpp"
echo 'int main() { return 0; }' >> "$work/headers/all.cpp"
cat > "$work/headers/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(AllHeaders LANGUAGES CXX)
find_package(Quarnell REQUIRED)
add_executable(all_headers all.cpp)
target_link_libraries(all_headers PRIVATE $targets)
CMAKE
consumer_ok=1
for project in "$work/headers" "$root/tests/consumer"; do
  name="$(basename "$project")"
  if cmake -S "$project" -B "$work/build-$name" -DCMAKE_PREFIX_PATH="$fresh/usr" >"$work/$name.log" 2>&1 &&
     cmake --build "$work/build-$name" -j "$(nproc)" >>"$work/$name.log" 2>&1; then
    ok "$name builds against the installed package"
  else
    cat "$work/$name.log"; fail "$name does not build against the installed package"; consumer_ok=0
  fi
done
if [ "$consumer_ok" = 1 ]; then
  "$work/build-consumer/core_consumer" && ok "the consumer runs" || fail "the consumer's answers"
  grep -q "$fresh/usr" "$work/build-consumer/CMakeCache.txt" && ok "found in the fresh root" ||
    fail "find_package did not use the fresh root"
fi

echo "== removal keeps the downloads"
echo "a package" > "$fresh/opt/Quarnell/Download/Package.zip"
"${dpkg_root[@]}" -r ombrevia-download > "$work/dpkg.txt" 2>&1 || { cat "$work/dpkg.txt"; fail "dpkg -r"; }
[ ! -e "$fresh/usr/bin/ombrevia-download" ] && ok "removed: the executable is gone" || fail "the executable stayed"
[ -f "$fresh/opt/Quarnell/Download/Package.zip" ] && [ "$(mode_of "$fresh/opt/Quarnell/Download")" = 1777 ] &&
  ok "removed: the download and its folder stay" || fail "removal touched the downloads"
"${dpkg_root[@]}" -P ombrevia-download > "$work/dpkg.txt" 2>&1 || { cat "$work/dpkg.txt"; fail "dpkg -P"; }
[ -f "$fresh/opt/Quarnell/Download/Package.zip" ] && ok "purged: the download stays" || fail "purge lost the download"
[ ! -e "$fresh/opt/Quarnell/Common" ] && ok "purged: the empty common folders are gone" ||
  fail "purge left the empty common folders"

if [ "$failures" -ne 0 ]; then
  echo "package test: $failures check(s) failed" >&2
  exit 1
fi
echo "package test: all checks passed"
