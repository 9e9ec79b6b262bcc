#!/usr/bin/env bash
# Builds Tessamune and installs it for the current user: the VST3 into
# ~/.vst3, the LV2 into ~/.lv2. Installs the build packages first (root or
# sudo needed for that step).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-release"

"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DTESSAMUNE_BUILD_TESTS=OFF -DTESSAMUNE_BUILD_BENCH=OFF -DTESSAMUNE_BUILD_TOOLS=OFF
cmake --build "$build" --parallel "$(nproc)" --target Tessamune_VST3 Tessamune_LV2 Tessamune_Standalone

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
echo "The standalone app is $artefacts/Standalone/Tessamune"
