#!/usr/bin/env bash
# The demo: builds the plug-in, its engines, vxhost and the LV2 bridge, installs the plug-in bundle
# into the user's components folder and the four engine builds into a support folder under
# the home, renders the demo signal through the plug-in with vxhost, and exports the plug-in as an
# LV2 bundle into ~/.lv2 for LV2 hosts.
#
#   bash scripts/demo.sh [--no-build]
#
# Environment:
#   VEXTRA_SUPPORT_FOLDER  where the engines go (default: $HOME/Library/
#                          Application Support/Vextra-Audio); the plug-in
#                          reads the same variable
#   VX_BUILD_DIR           the build tree (default: build/default, the
#                          "default" CMake preset)
#   VX_DEMO_DIR            where the rendered files go (default: $VX_BUILD_DIR/demo)
#   VX_LV2_DIR             where the LV2 bundle goes (default: $HOME/.lv2/VX-Delay.lv2)
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
build="${VX_BUILD_DIR:-$here/build/default}"
support="${VEXTRA_SUPPORT_FOLDER:-$HOME/Library/Application Support/Vextra-Audio}"
components="$HOME/Library/Audio/Plug-Ins/Components"
demo="${VX_DEMO_DIR:-$build/demo}"
lv2bundle="${VX_LV2_DIR:-$HOME/.lv2/VX-Delay.lv2}"
bundle="VX-Delay.component"

say() { printf 'demo: %s\n' "$*"; }

if [ "${1:-}" != "--no-build" ]; then
  say "installing the Debian packages the build needs (if any are missing)"
  bash "$here/scripts/setup.sh"
  say "configuring and building the plug-in, its engines and vxhost (CMake preset 'default', into $build)"
  (cd "$here" && cmake --preset default >/dev/null &&
    cmake --build --preset default --target vxplugin vxengines vxhost vx-lv2-bridge)
fi

vxhost="$build/bin/vxhost"
for needed in "$vxhost" "$build/$bundle/Contents/MacOS/VX-Delay" "$build/lib/vx-lv2-bridge.so"; do
  if [ ! -x "$needed" ]; then
    echo "demo: '$needed' was not built" >&2
    exit 1
  fi
done

say "installing $bundle into $components"
mkdir -p "$components"
# Copied beside the old one and swapped in, so a host never sees half a bundle.
rm -rf "$components/.$bundle.tmp"
cp -R "$build/$bundle" "$components/.$bundle.tmp"
rm -rf "$components/$bundle"
mv "$components/.$bundle.tmp" "$components/$bundle"

say "installing the four engine builds into $support/Delay"
VX_ENGINE_DIR="$build/engines" bash "$here/scripts/install-engines.sh" "$support"
export VEXTRA_SUPPORT_FOLDER="$support"

say "what the host finds (vxhost info):"
"$vxhost" info

mkdir -p "$demo"
say "rendering the built-in test signal dry (Mix 0 %) to $demo/demo-dry.wav"
"$vxhost" render -o "$demo/demo-dry.wav" --rate 48000 --set "Mix=0" --tail 0 --quiet
say "rendering it with a 250 ms delay to $demo/demo.wav:"
"$vxhost" render -o "$demo/demo.wav" --rate 48000 \
  --set "Delay Time=250" --set "Feedback=40" --set "Mix=50" --set "High Cut=6000"

say "exporting VX-Delay for LV2 hosts (Ardour, Carla, the lilv tools) into $lv2bundle"
"$vxhost" export-lv2 --out "$lv2bundle"
say "LV2 hosts look in ~/.lv2 (and on LV2_PATH): 'lv2ls | grep vextra' lists it, and"
say "  lv2apply -i IN.wav -o OUT.wav -c delay_time 250 urn:vextra-audio:lv2-bridge:aufx:Dlay:Vxta"
say "  renders through it; a host finds the engines where vxhost does (VEXTRA_SUPPORT_FOLDER)"

say "done. Listen to $demo/demo.wav (and demo-dry.wav to compare)."
say "to use vxhost on this install later: export VEXTRA_SUPPORT_FOLDER=\"$support\""
