#!/usr/bin/env bash
# Two duplora-cli builds side by side on run.sh's changed-mirror case (100,000
# files; the mirror has 2% other contents, 1% missing, 1% extra):
#
#   bench/ab_changed.sh CLI_A CLI_B [ROUNDS] [DATA]
#
# CLI_B may be the word `rsync`: then B is `rsync -a --delete HOST/ MIRROR/`,
# run.sh's peer for this case, measured the same way.
# DATA (default bench/data) holds `small` and `changed` as run.sh makes them
# (made here when missing). Each round restores the mirror from the pristine
# `changed` tree and runs one build, then restores it and runs the other; the
# order swaps every round, so load that drifts falls on both alike. Prints the
# median wall and user + system time of each and the ratio B / A.
#
# PAUSE (default 35) seconds pass between the restore and the run: on an ext4
# without a journal the inode allocator steps over every inode freed in the
# last 30 s, one inode-table lookup each, so files created right after the
# `rm -rf` of 100,000 cost many times more, and by how much depends on the
# moment a run creates them, not on the program.

set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
A=$(realpath "$1")
B=$2
[ "$B" = rsync ] || B=$(realpath "$B")
ROUNDS=${3:-7}
PAUSE=${PAUSE:-35}
DATA=${4:-$HERE/data}
SMALL=$DATA/small
TEMPLATE=$DATA/changed
TARGET=$DATA/ab-target
OUT=$(mktemp -d)
trap 'rm -rf "$OUT" "$TARGET"' EXIT

[ -d "$SMALL" ] || python3 "$HERE/gen_tree.py" small "$SMALL"
[ -d "$TEMPLATE" ] || python3 "$HERE/gen_tree.py" mirror "$SMALL" "$TEMPLATE"

oneway=(--subfolders on --speed 0 --only-in-host to-mirror --only-in-mirror delete
        --newer-in-host to-mirror --newer-in-mirror to-mirror --size-differs to-mirror)
for side in A B; do
    cli=$A
    [ "$side" = B ] && cli=$B
    [ "$cli" = rsync ] && continue
    "$cli" --config "$OUT/$side.cfg" --lang en new changed --host "$SMALL" --mirror "$TARGET" \
        "${oneway[@]}" >/dev/null
done

one() { # side
    local cli=$A
    [ "$1" = B ] && cli=$B
    rm -rf "$TARGET" && cp -a "$TEMPLATE" "$TARGET" && sync && sleep "$PAUSE"
    if [ "$cli" = rsync ]; then
        /usr/bin/time -a -o "$OUT/$1.txt" -f '%e %U %S' rsync -a --delete "$SMALL/" "$TARGET/"
    else
        /usr/bin/time -a -o "$OUT/$1.txt" -f '%e %U %S' \
            "$cli" --config "$OUT/$1.cfg" --lang en run changed >/dev/null
    fi
    diff -rq "$SMALL" "$TARGET" >/dev/null || { echo "$1: mirror differs from the host" >&2; exit 1; }
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for r in $(seq "$ROUNDS"); do
    if [ $((r % 2)) = 1 ]; then one A; one B; else one B; one A; fi
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$OUT/A.txt" "$OUT/B.txt" "$A" "$B" <<'PY'
import statistics, sys
med = {}
for key, path, cli in (("A", sys.argv[1], sys.argv[3]), ("B", sys.argv[2], sys.argv[4])):
    rows = [list(map(float, l.split())) for l in open(path) if l.strip()]
    wall = statistics.median(r[0] for r in rows)
    cpu = statistics.median(r[1] + r[2] for r in rows)
    med[key] = (wall, cpu)
    print(f"{key}: median wall {wall:.2f} s, user+system {cpu:.2f} s, walls {[r[0] for r in rows]}: {cli}")
print(f"B / A: wall {med['B'][0] / med['A'][0]:.3f}x, user+system {med['B'][1] / med['A'][1]:.3f}x")
PY
