# Shared by run.sh and test.sh: installs what is missing, configures, builds.
# Sourced, not run.

# Debian packages every build needs.
CALIVANT_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libcli11-dev liblcms2-dev libtiff-dev zlib1g-dev libpng-dev libjpeg62-turbo-dev libeigen3-dev qt6-base-dev fonts-dejavu-core)
# Extra packages for the sanitizer and fuzz build.
CALIVANT_CHECK_PACKAGES=(clang libclang-rt-14-dev)
# Validators and packaging tools of scripts/check-install.sh.
CALIVANT_INSTALL_CHECK_PACKAGES=(desktop-file-utils appstream man-db groff-base lintian bash-completion dpkg-dev file)

calivant_install_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo="sudo"
    else
      echo "error: packages missing (${missing[*]}) and neither root nor sudo is available" >&2
      return 1
    fi
  fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# calivant_build DIR [cmake options...]
calivant_build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$(nproc)"
}
