# Installs the Debian packages named as arguments that are not yet there.
# Sourced by the set-up and test scripts.
# shellcheck disable=SC2034 # the lists are read by the scripts that source this file
install_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  # Packages of the i386 architecture need it enabled first.
  local enable=
  if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    enable="dpkg --add-architecture i386"
  fi
  local sudo=
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "talvek: packages are missing; as root, run: ${enable:+$enable && }apt-get update &&" \
        "apt-get install ${missing[*]}" >&2
      exit 1
    fi
    sudo=sudo
  fi
  echo "Installing: ${missing[*]}"
  # shellcheck disable=SC2086 # a command and its arguments
  [ -z "$enable" ] || $sudo $enable
  refresh_packages $sudo
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
}

# refresh_packages [sudo]: apt-get update. A mirror caught in the middle of
# a sync fails an index now and then: three tries, a minute apart, then a
# warning, and the lists apt has; a package that cannot be had then fails
# its install, which names it.
refresh_packages() {
  local try
  for try in 1 2 3; do
    "$@" apt-get update -qq && return 0
    [ $try -eq 3 ] || sleep 60
  done
  echo "talvek: apt-get update failed three times; going on with the package lists apt has" >&2
}

# What building and running talvek on Linux needs: the optimizer is built
# from Debian's sources (fetched with apt, unpacked and patched) against the
# system's zlib, and checked against the advisories in libpng16-16's
# changelog.
BUILD_PACKAGES=(cmake make g++ zlib1g-dev patch xz-utils ca-certificates libpng16-16)
# What cross-compiling the Windows executables needs.
WINDOWS_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64)
# What running both Windows builds under Wine needs. wine32 itself must not
# be installed: tests/windows/loader32.sh takes its loader out of the package.
WINE_PACKAGES=(wine wine64 libwine:i386 qemu-user-static xvfb xdotool)
# What building the Debian package needs, and what checking it needs.
DEB_BUILD_PACKAGES=(build-essential dpkg-dev debhelper)
DEB_CHECK_PACKAGES=(lintian desktop-file-utils man-db libnotify-bin xdg-utils xvfb xauth
  libgtk-3-bin)
# What building the Windows optimizer and the release files needs;
# libpng16-16 brings the Debian changelog whose CVEs the release accounts for.
RELEASE_PACKAGES=(libz-mingw-w64-dev nsis zip unzip git xz-utils patch ca-certificates make
  python3 libpng16-16)
# What the tests need besides: GoogleTest; libpng's headers for the pixel
# oracle; Debian's pngcrush, the yardstick the copies are compared with;
# ImageMagick for the images of the benchmarks and the package test; the
# Python modules of the file checks and the drawings; clang with its
# sanitizer runtimes, llvm and afl++ for the sanitizer and fuzzing builds;
# the linter of every shell script, shellcheck; git for the test that
# clones; zopflipng and optipng, which make the already optimized test images.
TEST_PACKAGES=(libgtest-dev libpng-dev pngcrush python3 imagemagick time util-linux python3-pefile
  python3-pil clang libclang-rt-14-dev llvm afl++ shellcheck git zopfli optipng)
