#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing decodump need; only what is
# missing, so a second run does nothing. Pass extra package names to install them as well,
# --package for what building and checking the Debian package needs (scripts/package.sh and
# scripts/check-package.sh pass it), and --recommends to install what the packages recommend too
# (wine needs its recommended libraries and fonts to show a window).
set -euo pipefail

# locales: the source definition of the decimal-comma locale some tests run under (made in the
# build tree with localedef).
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev qt6-qpa-plugins
  xvfb xauth locales
)
# dpkg-shlibdeps (dpkg-dev, which needs file) computes the package's dependencies; lintian and
# desktop-file-validate check the package.
package_tools=(dpkg-dev file lintian desktop-file-utils)
recommends=--no-install-recommends
for arg in "$@"; do
  if [ "$arg" = --package ]; then
    packages+=("${package_tools[@]}")
  elif [ "$arg" = --recommends ]; then
    recommends=--install-recommends
  else
    packages+=("$arg")
  fi
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq "$recommends" "${missing[@]}" >/dev/null
