#!/usr/bin/env bash
# Installs whatever the build and the tests need and the machine lacks (Debian, as root).
# Extra packages that one check needs may be named as arguments.
set -euo pipefail

packages=(g++ make cmake binutils libeigen3-dev nlohmann-json3-dev zlib1g-dev libfast-float-dev libgtest-dev libbenchmark-dev openssl python3 pkg-config valgrind "$@")

missing=()
for package in "${packages[@]}"; do
  case "$package" in
    # Tools the tests only run: one from elsewhere on PATH serves as well.
    python3 | openssl | pkg-config) command -v "$package" >/dev/null 2>&1 && continue ;;
  esac
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
