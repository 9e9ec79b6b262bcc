#!/usr/bin/env bash
# Builds Tessamune and installs it for the current user: the VST3 into
# ~/.vst3, the LV2 into ~/.lv2. Then renders the built-in demo with the
# default settings and with a deep, fast setting, draws a plot of each, and
# says where everything is. Installs the build packages first (root or sudo
# needed for that step).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-release"

"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DTESSAMUNE_BUILD_TESTS=OFF -DTESSAMUNE_BUILD_BENCH=OFF -DTESSAMUNE_BUILD_TOOLS=OFF
cmake --build "$build" --parallel "$(nproc)" --target Tessamune_VST3 Tessamune_LV2 Tessamune_Standalone tessamune-render

artefacts="$build/Tessamune_artefacts/Release"

# Replace the bundles whole, so that nothing of an older build stays behind.
install_bundle() {
    local source=$1 destination_dir=$2
    local name
    name=$(basename "$source")
    mkdir -p "$destination_dir"
    rm -rf "$destination_dir/$name.new"
    cp -R "$source" "$destination_dir/$name.new"
    rm -rf "$destination_dir/$name"
    mv "$destination_dir/$name.new" "$destination_dir/$name"
    echo "Installed $destination_dir/$name"
}

install_bundle "$artefacts/VST3/Tessamune.vst3" "$HOME/.vst3"
install_bundle "$artefacts/LV2/Tessamune.lv2" "$HOME/.lv2"

# The factory presets for VST3 hosts, where they look for a maker's presets
# (the LV2 bundle holds its own). Hosts save the user's own presets in the
# same folder: those are left alone, the factory files replaced.
presets="$HOME/.vst3/presets/Quorvellin/Tessamune"
mkdir -p "$presets"
cp "$build"/vst3-presets/*.vstpreset "$presets/"
echo "Installed the factory presets into $presets"

# Hear and see it at once: the demo as the plug-in starts, and deep and fast.
renderer="$build/tools/render/tessamune-render"
demo="$build/demo"
mkdir -p "$demo"
echo
"$renderer" "$demo/demo-default.wav" --plot "$demo/demo-default.png"
"$renderer" "$demo/demo-deep-fast.wav" --depth 10 --speed 6 --plot "$demo/demo-deep-fast.png"

cat <<EOF

Tessamune is installed.
  Plug-ins:  $HOME/.vst3/Tessamune.vst3 and $HOME/.lv2/Tessamune.lv2 (rescan plug-ins in your DAW)
  Presets:   in the LV2 bundle, and $presets for VST3
             ($renderer --list-presets names them)
  Demo:      $demo/demo-default.wav     (default settings)
             $demo/demo-deep-fast.wav   (depth 10, speed 6)
  Plots:     $demo/demo-default.png and $demo/demo-deep-fast.png

Render your own file (WAV, AIFF, FLAC or Ogg Vorbis in, WAV out):
  $renderer my-guitar.wav my-guitar-chorus.wav --depth 6 --speed 3 --plot my-guitar.png
  ($renderer --help lists every option)

Open the standalone app (in a desktop session; its Options button picks the audio device):
  $artefacts/Standalone/Tessamune
EOF

# The Debian packages (./scripts/package.sh) may be installed as well, with
# the same plug-in: say which copy hosts load.
if dpkg-query -W -f '${Status}\n' tessamune-lv2 tessamune-vst3 2> /dev/null | grep -q ' installed$'; then
    cat <<EOF

The tessamune packages are installed as well (/usr/lib/lv2, /usr/lib/vst3). LV2
hosts load the newer of the two versions, and this per-user copy when both are
the same; VST3 hosts such as Ardour list both and load the one in ~/.vst3. To
use the packages' copies again, remove these:
  rm -rf $HOME/.lv2/Tessamune.lv2 $HOME/.vst3/Tessamune.vst3
EOF
fi
