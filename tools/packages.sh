# Installs the Debian packages named as arguments that are not yet there.
# Sourced by the set-up and test scripts.
install_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
}

# What building and running talvek on Linux needs.
BUILD_PACKAGES=(cmake make g++ pngcrush)
# What cross-compiling the Windows executables needs.
WINDOWS_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64)
# What building the optimizer from source and the release files needs.
RELEASE_PACKAGES=(libz-mingw-w64-dev nsis zip unzip git xz-utils patch ca-certificates)
