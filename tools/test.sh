#!/usr/bin/env bash
# Installs what the tests need and runs every test: the driver's unit tests,
# the Linux program with the real pngcrush, the 32-bit Windows executable
# read as a file, and the 64-bit one run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
install_packages "${BUILD_PACKAGES[@]}" libgtest-dev imagemagick \
  "${WINDOWS_PACKAGES[@]}" wine wine64 xvfb xdotool python3-pefile
for preset in win32 win64; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset -j"$(nproc)"
done
cmake --preset linux -DBUILD_TESTING=ON -DTALVEK_WINDOWS_TESTS=ON >/dev/null
cmake --build --preset linux -j"$(nproc)"
ctest --preset linux -j2
