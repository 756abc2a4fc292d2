#!/usr/bin/env bash
# Builds the Debian packages from a Release build:
#   dist/ombrevia-download_<version>_<arch>.deb   the tool, its menu entry, icon, AppStream data
#   dist/libquarnell-dev_<version>_<arch>.deb     headers, static libraries, CMake package
#   scripts/package.sh [build folder]             (default: build-package)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-package}"
bash "$root/scripts/setup.sh"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR=1

# Hardened as Debian builds its own packages: checked buffers, stack guards, a read-only
# relocation table bound at start.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_CXX_FLAGS="-D_FORTIFY_SOURCE=2 -fstack-protector-strong" \
      -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" \
      -DQUARNELL_BUILD_TESTS=OFF -DQUARNELL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

mkdir -p "$root/dist"
rm -rf "$build/cpack"
(cd "$build" && cpack -G DEB -B "$build/cpack" >/dev/null)
for deb in "$build"/cpack/*.deb; do
  cp "$deb" "$root/dist/"
  echo "package: dist/$(basename "$deb")"
done
