#!/usr/bin/env bash
# Installs what zevQ64N needs to build, run on the simulated board and test.
set -euo pipefail
packages=(build-essential cmake pkg-config qtbase5-dev qtbase5-dev-tools libboost-dev
          libhidapi-dev libudev-dev fonts-wqy-microhei iproute2 libssl3 openssl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y --no-install-recommends "${missing[@]}"
fi
