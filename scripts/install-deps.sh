#!/usr/bin/env bash
# Installs the Debian packages Tarnwell builds and tests with; does nothing when all are present.
# --test adds what only the tests need (a browser to open the HTML report in), which building
# and running the program never do.
set -euo pipefail

packages=(
  g++ cmake ninja-build make pkg-config python3
  qt6-base-dev libgl-dev fonts-dejavu-core
  qt6-charts-dev qt6-svg-dev libqt6opengl6-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libsndfile1-dev
  libpcap-dev  # pcap and pcapng calls as captures
  libsoxr-dev  # captures at other sample rates
  clang libclang-rt-14-dev  # the fuzz targets
  appstream  # appstreamcli: the test that validates res/tarnwell.metainfo.xml
  libspandsp-dev  # the G.168 echo path models that g168 compiles in and the tests read
  libspeexdsp-dev  # bench_peers only: the peer canceller it measures against
  help2man  # the manual pages, from each program's --help
  dpkg-dev lintian  # make package: dpkg-shlibdeps for the dependencies, lintian to check the .deb
  man-db groff-base  # the manual-page tests render each page as man does
  clang-format  # make format
  xvfb xauth imagemagick  # scripts/screenshot.sh: the window under Xvfb, captured with import
  espeak-ng sox python3-numpy  # scripts/make-evidence-table.py: speech through the echo models
  libfftw3-dev  # the transforms (single precision) of the spectral evidence (whitened delay, echo path by frequency)
)

test_packages=(
  chromium  # the HTML report opened headless: it renders, sorts on a click, logs no error
)
if [ "${1:-}" = "--test" ]; then
  packages+=("${test_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
