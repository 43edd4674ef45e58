#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the benchmarks and the fuzzers need
# (python3: the property-list comparison with plistlib and the processor-level checks; binutils
# and qemu-user: those checks disassemble the engines and run the plug-in on emulated processors;
# the LV2 packages: the bridge's headers, and lilv's tools and mda's plug-ins that test and
# measure it; valgrind: the render path's instruction count).
# Only missing packages are installed, so a second run costs nothing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config git
  libfmt-dev libpugixml-dev libicu-dev libsndfile1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  python3 binutils qemu-user
  lv2-dev lilv-utils mda-lv2
  valgrind
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
