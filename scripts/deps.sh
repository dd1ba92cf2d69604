#!/usr/bin/env bash
# Installs every Debian package the firmware, its simulators, its tests and
# its benchmarks need. Quick and silent when nothing is missing.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config
  # libraries the firmware links
  libssl-dev libevent-dev libopencv-dev libfreetype-dev libfribidi-dev
  libzint-dev libpcsclite-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  pcscd vsmartcard-vpcd vsmartcard-vpicc python3-virtualsmartcard
  fonts-dejavu-core p910nd telnet valgrind iproute2 util-linux
  netcat-openbsd openssl procps
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# pcscd is started by the tests that need it, never as a system service here.
if command -v systemctl >/dev/null 2>&1; then
  $SUDO systemctl disable --now pcscd.socket pcscd.service >/dev/null 2>&1 || true
fi
