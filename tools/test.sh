#!/usr/bin/env bash
# Installs what the tests need and runs every test: the driver's unit tests,
# the Linux program with the real pngcrush, the robustness matrix, the
# 32-bit Windows executable and both optimizers read as files, the 64-bit
# program and its zip and installer under Wine, two clean builds of the
# release compared byte for byte; then
# all of the Linux tests again with sanitizers, and each fuzz target for a
# bounded time (FUZZ_SECONDS, 30 by default).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
install_packages "${BUILD_PACKAGES[@]}" libgtest-dev imagemagick \
  "${WINDOWS_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}" wine wine64 xvfb xdotool python3-pefile \
  clang libclang-rt-14-dev util-linux time
jobs=$(nproc)
for preset in win32 win64; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset -j"$jobs"
  cmake --build --preset $preset --target package
done
cmake --preset linux -DBUILD_TESTING=ON -DTALVEK_WINDOWS_TESTS=ON >/dev/null
cmake --build --preset linux -j"$jobs"
ctest --preset linux -j2

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$jobs"
ctest --preset sanitize -j2

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
bash tools/fuzz.sh "${FUZZ_SECONDS:-30}"
