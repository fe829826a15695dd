#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need.
# Sourced by scripts/test and scripts/demo.

QRB117_PACKAGES=(
  cmake g++ ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libjpeg62-turbo-dev libgtest-dev
  xvfb xauth xdotool imagemagick
  fonts-liberation fonts-wine
  binutils srecord
  clang libclang-rt-14-dev clang-format clang-tidy
)

qrb117_missing_packages() {
  local missing=()
  for p in "${QRB117_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[@]}"
}

qrb117_install_deps() {
  local missing
  missing=$(qrb117_missing_packages)
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: $missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq || true
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing
  else
    echo "Missing packages. Run as root:"
    echo "  apt-get install -y --no-install-recommends $missing"
    return 1
  fi
}
