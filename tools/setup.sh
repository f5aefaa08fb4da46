#!/usr/bin/env bash
# Installs what is missing, builds talvek for Linux, and runs it on the
# sample folder. The optimized copies land in examples/_talvek.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
install_packages "${BUILD_PACKAGES[@]}"
cmake --preset linux -DBUILD_TESTING=OFF >/dev/null
cmake --build --preset linux -j"$(nproc)"
build/linux/talvek "$PWD/examples"
ls -l examples/_talvek
