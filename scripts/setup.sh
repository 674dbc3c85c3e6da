#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests and the benchmarks need.
# Idempotent: when every package is present it returns without touching apt.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    libgtest-dev libgmock-dev
    libusb-1.0-0-dev nlohmann-json3-dev libre2-dev
    clang libclang-rt-14-dev
    # the window: Qt 6 Widgets with the offscreen platform, QCustomPlot, fonts for screenshots
    qt6-base-dev qt6-qpa-plugins libqcustomplot-dev libgl-dev fonts-dejavu-core
    # settings, I2C adapters, web update (the CA store for the https update page)
    libsimpleini-dev libftdi1-dev libcurl4-openssl-dev ca-certificates
    # the results workbook: LibreOffice Calc driven through UNO
    libreoffice-calc-nogui libreoffice-dev libreoffice-dev-common ure
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
