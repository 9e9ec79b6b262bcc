#!/usr/bin/env bash
# CPU per frame of Tessamune's LV2 against other chorus plug-ins that Debian
# packages, measured side by side with lv2host (../shared/tools/lv2host):
# 48 kHz, stereo, Tessamune with chorus on, depth 5, speed 5, mix 10, the
# peers with the settings in lv2host's peers/peers.tsv. Each run is one
# lv2host process per block size with every plug-in, timed passes
# interleaved; the table gives the median over runs of each plug-in's median
# per-pass ratio to the floor chorus (lv2host's plain C reference, first line
# of peers.tsv), and its ns per frame.
#
#   bench/compare_peers.sh [RUNS]          (default 3 runs per block size)
#
# Environment: BUILD_DIR (default build-test; Tessamune's LV2 and
# engine_bench are built there and lv2host in $BUILD_DIR/lv2host),
# LV2HOST_SRC (default ../shared/tools/lv2host), BLOCKS (default
# "32 64 128 512 1024"), SECONDS_AUDIO (seconds of audio per pass, default
# 20: shorter passes take only milliseconds, and their ratios scatter),
# REPEAT (timed passes per run, default 21).
#
# Prints the processor's model and the instruction set Tessamune's kernels
# chose on it first: the figures hold for that kind of machine only.
#
# Installs the peers (calf-plugins fomp guitarix-lv2 swh-lv2 mda-lv2),
# lv2host's build dependencies and python3 with apt-get if they are missing.
# The figures are only as good as the machine is quiet: the load before and
# the busy fraction of the runs are printed (about 0.5 with lv2host alone
# on two cores).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
build=${BUILD_DIR:-$repo/build-test}
case $build in /*) ;; *) build=$repo/$build ;; esac
src=${LV2HOST_SRC:-$repo/../shared/tools/lv2host}
blocks=${BLOCKS:-32 64 128 512 1024}
uri=https://quorvellin.com/plugins/tessamune
settings="chorus_on=1 chorus_depth=5 chorus_speed=5 chorus_mix=10"

peers=(calf-plugins fomp guitarix-lv2 swh-lv2 mda-lv2)
tools=(liblilv-dev libsndfile1-dev lv2-dev pkg-config make gcc python3 lilv-utils)
missing=()
for p in "${peers[@]}" "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
    sudo=()
    [[ $(id -u) -eq 0 ]] || sudo=(sudo)
    echo "installing ${missing[*]}" >&2
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# lv2host and its floor bundle, built from a copy (the source may be read-only).
host=$build/lv2host
mkdir -p "$build"
rm -rf "$host"
cp -r "$src" "$host"
make -C "$host" -s >/dev/null

# Tessamune's LV2.
if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target Tessamune_LV2 engine_bench -j2 >/dev/null
bundles=$build/Tessamune_artefacts/Release/LV2

# The machine: the same kernels run in the LV2 as in engine_bench.
model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
kernels=$("$build/bench/engine_bench" --benchmark_filter='^engineConstruction$' --benchmark_min_time=0.01 2>&1 \
          | sed -n 's/^kernels: //p')
echo "processor: ${model:-unknown} ($(nproc) cores); Tessamune's kernels: ${kernels:-unknown}"

export LV2_PATH=$host/floor/bundles:$bundles:/usr/lib/lv2

# The configurations: peers.tsv's (without those not installed here), then
# Tessamune processing two channels and processing one into two.
table=$host/peers/peers.tsv
{
    head -n 1 "$table"
    grep -v '^#' "$table" | while IFS=$'\t' read -r label puri rest; do
        if "$host/lv2host" info "$puri" >/dev/null 2>&1; then
            printf '%s\t%s\t%s\n' "$label" "$puri" "$rest"
        else
            echo "skipping $label: $puri is not installed" >&2
        fi
    done
    printf 'tessamune-stereo\t%s\t%s stereo_proc=1\n' "$uri" "$settings"
    printf 'tessamune-mono-to-stereo\t%s\t%s stereo_proc=0\n' "$uri" "$settings"
} >"$table.new"
mv "$table.new" "$table"

out=$build/compare_peers.tsv
rm -rf "$out" "$out.d"
echo "machine load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
SECONDS_AUDIO=${SECONDS_AUDIO:-20} REPEAT=${REPEAT:-21} \
    "$host/peers/run_inproc.sh" "$out" "$runs" $blocks

python3 - "$out" "${model:-unknown}" "${kernels:-unknown}" $blocks <<'EOF'
import collections, statistics, sys

path, model, kernels, blocks = sys.argv[1], sys.argv[2], sys.argv[3], [int(b) for b in sys.argv[4:]]
ratio = collections.defaultdict(list)
ns = collections.defaultdict(list)
busy = []
order = []
for line in open(path):
    f = line.rstrip("\n").split("\t")
    d = dict(x.split("=", 1) for x in f[3:] if "=" in x)
    label, block = f[1], int(d["block"])
    if label not in order:
        order.append(label)
    ratio[label, block].append(float(d["ratio_to_first_med"]))
    ns[label, block].append(float(d["cpu_ns_med"]))
    busy.append(float(d.get("busy", "nan")))

names = {
    "tessamune-stereo": "Tessamune, stereo",
    "tessamune-mono-to-stereo": "Tessamune, Processing Mode Mono (mono into stereo)",
    "floor": "floor: lv2host's plain C chorus",
    "null-copy": "the host's own copy of the audio",
    "juce-empty": "an empty JUCE plug-in",
    "calf-multichorus-4v": "Calf Multi Chorus, 4 voices",
    "calf-multichorus-1v": "Calf Multi Chorus, 1 voice",
    "fomp-cs_chorus1": "fomp CS Chorus 1",
    "fomp-cs_chorus2": "fomp CS Chorus 2",
    "fomp-triple_chorus": "fomp Triple chorus",
    "gx-chorus-stereo": "GxChorus-Stereo",
    "swh-multivoice-4v": "swh Multivoice Chorus, 4 voices",
    "mda-thruzero": "MDA ThruZero",
}
# Tessamune first, then the peers, then the references.
first = [l for l in order if l.startswith("tessamune")]
last = [l for l in ("floor", "juce-empty", "null-copy") if l in order]
peers = [l for l in order if l not in first and l not in last]

print(f"\nprocessor: {model}; Tessamune's kernels: {kernels}")
print("\n| plug-in | " + " | ".join(f"block {b}" for b in blocks) + " |")
print("|---|" + "---|" * len(blocks))
for label in first + peers + last:
    cells = []
    for b in blocks:
        r, n = ratio.get((label, b)), ns.get((label, b))
        cells.append(f"{statistics.median(r):.2f}× ({statistics.median(n):.2f})" if r else "–")
    print(f"| {names.get(label, label)} | " + " | ".join(cells) + " |")

print()
for b in blocks:
    t = ratio.get(("tessamune-stereo", b))
    cheapest = min(((statistics.median(ratio[p, b]), p) for p in peers if (p, b) in ratio), default=None)
    if t and cheapest:
        verdict = "below" if statistics.median(t) < cheapest[0] else "NOT below"
        print(f"block {b}: Tessamune stereo {statistics.median(t):.2f}× is {verdict} the cheapest peer, "
              f"{names.get(cheapest[1], cheapest[1])} {cheapest[0]:.2f}×")

runs = max(len(v) for v in ratio.values())
print(f"\n× floor (ns per frame), medians over {runs} runs; machine busy fraction median "
      f"{statistics.median(busy):.2f} (about 0.5 is lv2host alone on two cores)")
EOF

# --- lilv's own benchmark ------------------------------------------------------
# Debian's lv2bench runs each plug-in at its default settings and connects all
# its audio outputs to one buffer (all its inputs to another). Each plug-in is
# one lv2bench process, Tessamune and the peers in turn, round after round, at
# blocks of 64 and 512 frames; the table gives each peer's median time as a
# multiple of Tessamune's in the same rounds.
rounds=${LV2BENCH_ROUNDS:-9}
frames=${LV2BENCH_FRAMES:-4800000}
bench_uris=("$uri")
while IFS=$'\t' read -r label puri rest; do
    case $label in floor|null-copy|juce-empty|tessamune-*) continue ;; esac
    [[ " ${bench_uris[*]} " == *" $puri "* ]] || bench_uris+=("$puri")
done < <(grep -v '^#' "$table")

lv2bench_out=$build/compare_peers_lv2bench.tsv
: > "$lv2bench_out"
for block in 64 512; do
    for ((round = 0; round < rounds; ++round)); do
        for puri in "${bench_uris[@]}"; do
            seconds=$(LV2_PATH=$bundles:/usr/lib/lv2 lv2bench -b "$block" -n "$frames" "$puri" 2>/dev/null \
                      | awk -v u="$puri" '$2 == u { print $1 }')
            [[ -n $seconds ]] && printf '%s\t%s\t%s\t%s\n' "$block" "$round" "$puri" "$seconds" >> "$lv2bench_out"
        done
    done
done

python3 - "$lv2bench_out" "$uri" "$frames" <<'EOF2'
import collections, statistics, sys

path, ours, frames = sys.argv[1], sys.argv[2], int(sys.argv[3])
times = collections.defaultdict(dict)
for line in open(path):
    block, round_, uri, seconds = line.split("\t")
    times[int(block), int(round_)][uri] = float(seconds)

blocks = sorted({b for b, _ in times})
uris = sorted({u for t in times.values() for u in t if u != ours})
print("\nlv2bench (lilv-utils), default settings, every output on one buffer: each peer's time as a multiple "
      "of Tessamune's in the same round (median over rounds), and ns per frame")
print("\n| plug-in | " + " | ".join(f"block {b}" for b in blocks) + " |")
print("|---|" + "---|" * len(blocks))
def cell(uri, b):
    rounds = [t for (bb, _), t in times.items() if bb == b and uri in t and ours in t]
    if not rounds:
        return None, "–"
    r = statistics.median(t[uri] / t[ours] for t in rounds)
    ns = statistics.median(t[uri] for t in rounds) / frames * 1e9
    return r, f"{r:.2f}× ({ns:.2f})"
print("| Tessamune | " + " | ".join(cell(ours, b)[1] for b in blocks) + " |")
least = {}
for uri in uris:
    cells = [cell(uri, b) for b in blocks]
    print(f"| {uri} | " + " | ".join(c[1] for c in cells) + " |")
    for b, (r, _) in zip(blocks, cells):
        if r is not None:
            least[b] = min(least.get(b, r), r)
for b in blocks:
    if b in least:
        print(f"block {b}: the cheapest peer costs {least[b]:.2f}× what Tessamune costs")
EOF2
