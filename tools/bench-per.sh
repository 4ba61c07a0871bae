#!/bin/sh
# Builds the control-message coder benchmark and the timer benchmark twice
# (Release): with the pooled class-level allocation (build/bench-on) and with
# the global allocator (build/bench-off, GW_POOL_ALLOC=OFF). Runs both in
# turns, so that both see the same load, and prints the figures side by side
# with the ratio off/on (above 1: the pool is faster).
#
#   tools/bench-per.sh [rounds]     (default 2 rounds of 5 repetitions each)
#
# Each figure is the least time seen over all repetitions.
set -e
cd "$(dirname "$0")/.."
rounds=${1:-2}
jobs=${JOBS:-4}
for mode in on off; do
  flag=ON
  [ "$mode" = off ] && flag=OFF
  cmake -S . -B "build/bench-$mode" -DCMAKE_BUILD_TYPE=Release -DGW_TESTS=OFF \
    -DGW_POOL_ALLOC=$flag >/dev/null
  cmake --build "build/bench-$mode" -j "$jobs" --target bench_bench_lgcp bench_bench_timers >/dev/null
done

out=build/bench-results
rm -rf "$out"
mkdir -p "$out"
i=1
while [ "$i" -le "$rounds" ]; do
  for mode in on off; do
    for b in lgcp timers; do
      "build/bench-$mode/bench/bench_bench_$b" --benchmark_repetitions=5 \
        --benchmark_min_time=0.2 --benchmark_format=json \
        --benchmark_out="$out/$b-$mode-$i.json" >/dev/null
    done
  done
  i=$((i + 1))
done

python3 - "$out" <<'EOF'
import glob, json, os, sys

out = sys.argv[1]
best = {}    # (mode, name) -> least real time in ns
allocs = {}  # (mode, name) -> heap allocations per iteration
for path in glob.glob(os.path.join(out, "*.json")):
    mode = os.path.basename(path).split("-")[1]
    for b in json.load(open(path))["benchmarks"]:
        if b.get("run_type") != "iteration" or b.get("error_occurred"):
            continue
        name = b.get("run_name", b["name"])
        ns = b["real_time"] * {"ns": 1, "us": 1e3, "ms": 1e6}[b["time_unit"]]
        key = (mode, name)
        best[key] = min(best.get(key, ns), ns)
        if "allocs" in b:
            allocs[key] = b["allocs"]

def ratio(name):
    on, off = best.get(("on", name)), best.get(("off", name))
    return (on, off, off / on if on and off else float("nan"))

images = []
for (mode, name) in best:
    if name.startswith("Decode/"):
        img = name.split("/", 1)[1]
        if img not in images:
            images.append(img)
order = ["ping", "createTrunk", "createMixerIn", "createT38Soft", "createRtp"]
images.sort(key=lambda s: order.index(s) if s in order else len(order))

print("ns per operation, pool on / pool off (ratio off/on); heap allocations per decode+encode")
print("%-14s %-24s %-24s %-24s %s" % ("image", "decode", "encode", "decode+encode", "allocs on/off"))
for img in images:
    cells = []
    for op in ("Decode", "Encode", "DecodeEncode"):
        on, off, r = ratio(op + "/" + img)
        cells.append("%6.0f / %6.0f (%4.2fx)" % (on, off, r))
    a_on = allocs.get(("on", "DecodeEncode/" + img), float("nan"))
    a_off = allocs.get(("off", "DecodeEncode/" + img), float("nan"))
    print("%-14s %-24s %-24s %-24s %g / %g" % (img, cells[0], cells[1], cells[2], a_on, a_off))
print()
print("same message object and output vector for every frame:")
for img in images:
    on, off, r = ratio("DecodeEncodeSameObjects/" + img)
    a_on = allocs.get(("on", "DecodeEncodeSameObjects/" + img), float("nan"))
    print("%-14s %6.0f / %6.0f ns (%4.2fx), %g allocations" % (img, on, off, r, a_on))
print()
# Decoding into a message whose fields already exist makes and frees no
# value: that figure is the walk alone. A fresh message costs at least the
# walk, whatever the pool does, so no allocator can beat this ratio.
print("ceiling of the decode+encode ratio (pool off, fresh message / pool on, walk alone):")
for img in images:
    off = best.get(("off", "DecodeEncode/" + img))
    walk = best.get(("on", "DecodeEncodeSameObjects/" + img))
    if off and walk:
        print("%-14s %6.0f / %6.0f ns = %4.2fx" % (img, off, walk, off / walk))
print()
print("timers (10,000 pending unless the name says otherwise):")
for (mode, name) in sorted(best):
    if mode != "on" or "/" not in name or name.split("/")[0] not in (
            "ArmAndCancel", "ReArmRunning", "CancelAnywhere"):
        continue
    on, off, r = ratio(name)
    print("%-28s %8.1f / %8.1f ns (%4.2fx)" % (name, on, off, r))
EOF
