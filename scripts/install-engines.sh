#!/usr/bin/env bash
# Installs the four builds of the reference engine into the product's data
# folder: SUPPORT/Delay/.
#
#   scripts/install-engines.sh [SUPPORT_FOLDER]
#
# SUPPORT_FOLDER defaults to $VEXTRA_SUPPORT_FOLDER, else to the system-wide
# "/Library/Application Support/Vextra-Audio". The builds are taken from
# $VX_ENGINE_DIR, else from build/default/engines of this checkout.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
support="${1:-${VEXTRA_SUPPORT_FOLDER:-/Library/Application Support/Vextra-Audio}}"
engines="${VX_ENGINE_DIR:-$here/build/default/engines}"
product="Delay"
builds=(audplg.dylib audplga.dylib audplga2.dylib audplga5.dylib)

if [ -e "$support" ] && [ ! -d "$support" ]; then
  echo "install-engines: '$support' exists and is not a folder" >&2
  exit 1
fi
for b in "${builds[@]}"; do
  if [ ! -f "$engines/$b" ]; then
    echo "install-engines: missing engine build '$engines/$b' (build the 'vxengines' target first)" >&2
    exit 1
  fi
done

mkdir -p "$support/$product"
for b in "${builds[@]}"; do
  # Copy then rename, so a running host never maps a half-written module.
  cp "$engines/$b" "$support/$product/.$b.tmp"
  mv -f "$support/$product/.$b.tmp" "$support/$product/$b"
done
echo "install-engines: ${#builds[@]} engine builds installed in $support/$product"
