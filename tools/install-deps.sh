#!/usr/bin/env bash
# Installs what zevQ64N needs to build, run on the simulated board and test,
# and what the README's examples use (pyserial for the serial cables).
set -euo pipefail
packages=(build-essential cmake pkg-config qtbase5-dev qtbase5-dev-tools libboost-dev
          libhidapi-dev libudev-dev libvncserver-dev fonts-wqy-microhei iproute2 libssl3 openssl python3-serial)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "install-deps: missing ${missing[*]}: run as root or install sudo" >&2
      exit 1
    fi
    sudo_cmd=(sudo)
  fi
  "${sudo_cmd[@]}" apt-get update
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
