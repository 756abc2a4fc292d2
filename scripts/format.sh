#!/usr/bin/env bash
# Applies .clang-format to every tracked C++ source and header.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -i
