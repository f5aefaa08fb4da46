#!/usr/bin/env bash
# Installs what the tests need and runs every test: shellcheck on every
# script; the driver's unit tests, the Linux program with the real pngcrush
# and the robustness matrix, from a clone in a folder named with a blank,
# below one that others cannot enter; the 32-bit Windows executable and
# both optimizers read as files, both Windows builds and their zips and
# installers under Wine, a clean build of the release in another folder
# compared with them byte for byte; the Debian package, built, installed,
# used and purged (as root only); then all of the Linux tests again with sanitizers, with them the
# optimizer we ship built the same way and run on every test image, and
# each fuzz target, the optimizer under afl++ and libpng's own fuzzers among
# them, for a bounded time (FUZZ_SECONDS, 30 by default), with the lines
# their inputs reach (llvm-cov).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
install_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" \
  "${RELEASE_PACKAGES[@]}" "${WINE_PACKAGES[@]}" "${DEB_BUILD_PACKAGES[@]}" \
  "${DEB_CHECK_PACKAGES[@]}"
jobs=$(nproc)
# The real images the tests run on, fetched once (tests/corpus.sh).
bash tests/corpus.sh . >/dev/null
for preset in win32 win64; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset -j"$jobs"
  cmake --build --preset $preset --target package
done
cmake --preset linux -DBUILD_TESTING=ON -DTALVEK_WINDOWS_TESTS=ON >/dev/null
cmake --build --preset linux -j"$jobs"
# integration, robustness, shellcheck and docs run in the clone test, from this
# working tree's files, so not here again; the sanitizer build runs the
# first two again below.
ctest --preset linux -j2 -E '^(integration|robustness|shellcheck|docs)$'

# The package, built twice: the same bytes both times. Its sources are
# fetched by then, so as root the second build runs with no network at all
# (a network namespace of its own), as a package build must.
bash packaging/debian/build.sh
first=$(sha256sum < build/deb/talvek_*.deb)
offline=()
[ "$(id -u)" -ne 0 ] || offline=(unshare --net)
"${offline[@]}" bash packaging/debian/build.sh >/dev/null
[ "$(sha256sum < build/deb/talvek_*.deb)" = "$first" ] ||
  { echo "FAIL: two builds of the package differ"; exit 1; }
status=0
TALVEK_PIXELS=$PWD/build/linux/pixels bash tests/debian/package.sh build/deb/talvek_*.deb . || status=$?
# 77: the test skipped itself, and its SKIPPED line said why.
[ $status -eq 77 ] && echo "The package test was skipped; the other tests go on."
[ $status -eq 0 ] || [ $status -eq 77 ] || exit $status

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$jobs"
ctest --preset sanitize -j2

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
bash tools/fuzz.sh "${FUZZ_SECONDS:-30}"
