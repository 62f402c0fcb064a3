#!/usr/bin/env bash
# Installs what the build needs (Debian packages), then configures and builds
# into ./build. Safe to run again: it only installs what is missing and
# rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ python3 python3-dev python3-pytest python3-hypothesis
          libssl-dev libsimdjson-dev libgtest-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

build_dir="${ZR_BUILD_DIR:-build}"
if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${ZR_CMAKE_ARGS:-}
fi
cmake --build "$build_dir" -j "$(nproc)"
