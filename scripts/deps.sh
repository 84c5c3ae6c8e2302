# Installs the Debian packages the build, the demo and the tests need.
# Sourced by the other scripts; installs only what is missing.
set -euo pipefail

QUOLVA_PACKAGES=(
  # build
  dpf-source cmake g++ make pkg-config libgl-dev libx11-dev libxext-dev libxcursor-dev libxrandr-dev
  libsndfile1-dev
  # tests and benchmarks
  libgtest-dev libbenchmark-dev python3 python3-pil python3-cairo fonts-dejavu-core locales
  # editor tests under a virtual display
  xvfb xauth xdotool x11-apps libgl1-mesa-dri imagemagick libxtst-dev libpng-dev
  # the Windows modules: cross-built, then tested under Wine
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 x11-utils
)

quolva_install_packages() {
  local missing=()
  local p
  for p in "${QUOLVA_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
  $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
}

# Cross-builds the Windows modules and the programs the wine tests run into
# build/windows (the same tree for the demo and the tests).
quolva_build_windows() {
  local tree="$QUOLVA_ROOT/build/windows"
  cmake -S "$QUOLVA_ROOT" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$QUOLVA_ROOT/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUOLVA_BUILD_BENCH=OFF -DQUOLVA_HOST_SNDFILE=OFF >/dev/null
  cmake --build "$tree" -j "$QUOLVA_JOBS"
}

QUOLVA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QUOLVA_JOBS="${QUOLVA_JOBS:-$(nproc)}"
