#!/usr/bin/env bash
# Installs the Debian packages that building, testing, benchmarking and fuzzing need.
# Idempotent: packages already present are skipped without touching apt.
set -euo pipefail

packages=(
  cmake g++ make pkg-config ninja-build lld
  clang libclang-rt-dev
  libics-dev libtiff-dev libtiff-tools libexpat1-dev
  qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation fonts-dejavu-core
  libblosc-dev zlib1g-dev libzstd-dev libcurl4-openssl-dev nlohmann-json3-dev
  libzip-dev libjpeg-dev libgif-dev libwebp-dev libpng-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev ffmpeg
  ccache
)

# Regenerating tests/data/zarr (scripts/make-zarr-testdata.py) also needs python3-zarr,
# python3-numcodecs and python3-dask, and the ImageJ files in tests/data imagej, xvfb and xauth;
# the tests themselves do not.
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
