#!/usr/bin/env bash
# duplora-cli plan beside `find` over the same two trees, one of each per
# round in turns, so load that drifts falls on all alike:
#
#   bench/plan_vs_find.sh CLI HOST MIRROR [ROUNDS]
#
# The plan runs twice per round: with both sides scanned at once (the
# default) and with DUPLORA_SERIAL_SCAN=1 (one side after the other). Prints
# the median wall time, median user + system time and the largest peak RSS
# of each, and the plan's ratios to find. For the growth table's trees use
# `gen_tree.py empty DIR --files N --folders N/20` and `cp -a` on a tmpfs.

set -euo pipefail

CLI=$(realpath "$1")
HOST=$(realpath "$2")
MIRROR=$(realpath "$3")
ROUNDS=${4:-7}
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

"$CLI" --config "$OUT/c.cfg" --lang en new t --host "$HOST" --mirror "$MIRROR" --subfolders on \
    --speed 0 --only-in-host to-mirror --only-in-mirror delete --newer-in-host to-mirror \
    --newer-in-mirror to-mirror --size-differs to-mirror >/dev/null
"$CLI" --config "$OUT/c.cfg" plan t | tail -1

one() { # name, command...
    local name=$1
    shift
    /usr/bin/time -a -o "$OUT/$name.txt" -f '%e %U %S %M' "$@" >/dev/null
}
at_once() { one at-once "$CLI" --config "$OUT/c.cfg" plan t; }
serial() { DUPLORA_SERIAL_SCAN=1 one serial "$CLI" --config "$OUT/c.cfg" plan t; }
finder() { one find find "$HOST" "$MIRROR" -printf '%s %T@\n'; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
at_once && serial && finder # warm the caches
rm -f "$OUT"/*.txt
for r in $(seq "$ROUNDS"); do
    case $((r % 3)) in
    0) at_once; serial; finder ;;
    1) serial; finder; at_once ;;
    2) finder; at_once; serial ;;
    esac
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$OUT" <<'PY'
import statistics, sys
med = {}
for name in ("at-once", "serial", "find"):
    rows = [list(map(float, l.split())) for l in open(f"{sys.argv[1]}/{name}.txt") if l.strip()]
    wall = statistics.median(r[0] for r in rows)
    cpu = statistics.median(r[1] + r[2] for r in rows)
    med[name] = wall
    print(f"{name:8} median wall {wall:6.3f} s, user+system {cpu:6.3f} s, "
          f"peak RSS {max(r[3] for r in rows) / 1024:6.1f} MB, walls {[r[0] for r in rows]}")
print(f"plan at once / find {med['at-once'] / med['find']:.2f}x, "
      f"serial / find {med['serial'] / med['find']:.2f}x, "
      f"at once / serial {med['at-once'] / med['serial']:.2f}x")
PY
