#!/usr/bin/env bash
# Installs what the tests need and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
install_packages "${BUILD_PACKAGES[@]}" libgtest-dev imagemagick
cmake --preset linux -DBUILD_TESTING=ON >/dev/null
cmake --build --preset linux -j"$(nproc)"
ctest --preset linux -j2
