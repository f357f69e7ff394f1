#!/usr/bin/env bash
# Shared set-up of ./run and ./test: installs the Debian packages the project needs (only when one
# is missing), then configures and builds into $BUILD_DIR. Quick when nothing changed.
#   BUILD_DIR  build folder (default: build, or build-asan with SANITIZE=1)
#   SANITIZE=1 AddressSanitizer + UndefinedBehaviorSanitizer build
#   FUZZ=1     the libFuzzer programs of fuzz/ only, built by clang (build-fuzz/); installs clang
#              and libFuzzer first (fuzz/run.sh sets it)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev googletest
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  libavfilter-dev libavdevice-dev libsdl2-dev libjpeg62-turbo-dev
  ffmpeg nlohmann-json3-dev time xvfb xauth xdotool
  qt6-base-dev fonts-dejavu-core libdbus-1-dev
)
if [[ "${FUZZ:-0}" == 1 ]]; then
  PACKAGES+=(clang-14 libfuzzer-14-dev)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  line="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
  echo "Installing: ${missing[*]}"
  if [[ $(id -u) -eq 0 ]]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"
  elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "Some packages are missing and this user cannot install them. Run as root:" >&2
    echo "  $line" >&2
    exit 1
  fi
fi

BUILD_TARGETS=()
if [[ "${FUZZ:-0}" == 1 ]]; then
  BUILD_DIR="${BUILD_DIR:-$ROOT/build-fuzz}"
  CONFIG_ARGS=(-DVC_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14)
  BUILD_TARGETS=(--target fuzzers)
elif [[ "${SANITIZE:-0}" == 1 ]]; then
  BUILD_DIR="${BUILD_DIR:-$ROOT/build-asan}"
  CONFIG_ARGS=(-DVC_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
else
  BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
  CONFIG_ARGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
export BUILD_DIR

if [[ ! -f "$BUILD_DIR/build.ninja" ]]; then
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja "${CONFIG_ARGS[@]}" >/dev/null
fi
cmake --build "$BUILD_DIR" "${BUILD_TARGETS[@]}" -- -j"$(nproc)"
