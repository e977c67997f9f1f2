#!/usr/bin/env bash
# Measures duplora-cli side by side with find, cp and rsync on generated trees.
#
#   bench/run.sh [path/to/duplora-cli]      (default: build/duplora-cli)
#
# Environment: RUNS (measured runs per command, default 5; copies use
# COPY_RUNS, default 3), SKIP_BIG=1 (leave out the 2 GiB file), KEEP_DATA=1
# (keep the generated trees in bench/data/ for the next time), SCALE_SIZES
# (files per side of the growth table, default "25000 50000 100000 200000
# 1000000"), SCALE_DATA (where the growth table's trees go, default a folder
# in /dev/shm: 2,000,000 empty files cost the disk's inode tables minutes,
# a tmpfs about 2 GB of memory; removed at the end unless KEEP_DATA=1).
# Needs hyperfine, rsync and GNU time (apt-get install -y hyperfine rsync time).
#
# Every duplora task runs with speed limit 0. Copies are timed from an empty
# (or freshly restored) target; the previous run's dirty pages are written out
# by `sync` in the --prepare step, so no run pays for the one before.
# Results (hyperfine JSON and Markdown, RSS figures) go to bench/out/.

set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
CLI=$(realpath "${1:-$ROOT/build/duplora-cli}")
DATA=$HERE/data
OUT=$HERE/out
RUNS=${RUNS:-5}
COPY_RUNS=${COPY_RUNS:-3}
GEN="python3 $HERE/gen_tree.py"
SCALE_SIZES=${SCALE_SIZES:-25000 50000 100000 200000 1000000}
SCALE_DATA=${SCALE_DATA:-/dev/shm/duplora-bench-scale}

for tool in hyperfine rsync /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
[ -x "$CLI" ] || { echo "no duplora-cli at $CLI" >&2; exit 1; }

mkdir -p "$DATA" "$OUT"
CFG=$OUT/bench.cfg
rm -f "$CFG" "$OUT/duplora.log"
cli() { "$CLI" --config "$CFG" --lang en "$@"; }

SMALL=$DATA/small          # 100,000 files of 0-16 KiB in ~5,000 folders
SAME=$DATA/small-same      # identical copy (plan on identical trees)
TEMPLATE=$DATA/changed     # the mirror before the host changed (kept pristine)
TARGET=$DATA/target        # copy target, emptied or restored before each run
BIG=$DATA/big              # one 2 GiB file
BIGT=$DATA/big-target

# --- data -------------------------------------------------------------------
[ -d "$SMALL" ] || $GEN small "$SMALL"
[ -d "$SAME" ] || cp -a "$SMALL" "$SAME"
[ -d "$TEMPLATE" ] || $GEN mirror "$SMALL" "$TEMPLATE"
if [ "${SKIP_BIG:-0}" != 1 ] && [ ! -f "$BIG/big.bin" ]; then
    $GEN big "$BIG/big.bin" --mib 2048
fi

# --- tasks: host -> mirror, everything the mirror lacks or has extra --------
oneway=(--subfolders on --speed 0 --only-in-host to-mirror --only-in-mirror delete
        --newer-in-host to-mirror --newer-in-mirror to-mirror --size-differs to-mirror)
cli new same --host "$SMALL" --mirror "$SAME" "${oneway[@]}"
cli new init --host "$SMALL" --mirror "$TARGET" "${oneway[@]}"
cli new changed --host "$SMALL" --mirror "$TARGET" "${oneway[@]}"
cli new big --host "$BIG" --mirror "$BIGT" "${oneway[@]}"

machine() {
    echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //') x $(nproc)"
    echo "memory: $(free -g | awk '/Mem:/ {print $2}') GiB"
    echo "kernel: $(uname -r)"
    echo "file system: $(df -T "$DATA" | awk 'NR==2 {print $2}')"
    echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "duplora-cli: $("$CLI" --version)"
    echo "find: $(find --version | head -1)"
    echo "rsync: $(rsync --version | head -1)"
    echo "cp: $(cp --version | head -1)"
    echo "hyperfine: $(hyperfine --version)"
}
machine | tee "$OUT/machine.txt"

bench() { # name, then hyperfine options and commands
    local name=$1
    shift
    hyperfine --style basic --export-json "$OUT/$name.json" \
        --export-markdown "$OUT/$name.md" "$@"
}

# --- 1. plan on identical trees ---------------------------------------------
cli plan same | tail -1
bench plan --warmup 1 --runs "$RUNS" \
    -n "duplora-cli plan" "$CLI --config $CFG plan same >/dev/null" \
    -n "find -printf" "find $SMALL $SAME -printf '%s %T@\n' >/dev/null" \
    -n "rsync -a --delete -n" "rsync -a --delete -n $SMALL/ $SAME/"

# --- 2. initial copy into an empty folder -----------------------------------
bench initial --runs "$COPY_RUNS" --prepare "rm -rf $TARGET && mkdir -p $TARGET && sync" \
    -n "duplora-cli run" "$CLI --config $CFG run init >/dev/null" \
    -n "cp -a" "cp -a $SMALL/. $TARGET/" \
    -n "rsync -a" "rsync -a $SMALL/ $TARGET/"

# --- 3. mirror with 2% changed, 1% removed, 1% added ------------------------
rm -rf "$TARGET" && cp -a "$TEMPLATE" "$TARGET" && cli plan changed | tail -1
bench changed --runs "$COPY_RUNS" --prepare "rm -rf $TARGET && cp -a $TEMPLATE $TARGET && sync" \
    -n "duplora-cli run" "$CLI --config $CFG run changed >/dev/null" \
    -n "rsync -a --delete" "rsync -a --delete $SMALL/ $TARGET/"
# Both must leave the same tree behind.
rm -rf "$TARGET" && cp -a "$TEMPLATE" "$TARGET" && cli run changed >/dev/null
diff -r "$SMALL" "$TARGET" >/dev/null && echo "changed mirror: identical to the host after the run"

# --- 4. one 2 GiB file ------------------------------------------------------
# hyperfine runs all of one command, then all of the other; on a shared
# machine the load drifts between the two blocks. The interleaved series
# (one of each in turn) shows what the two commands cost side by side.
interleave() { # name, runs, prepare, command A, command B
    local name=$1 runs=$2 prep=$3 a=$4 b=$5
    rm -f "$OUT/$name-a.txt" "$OUT/$name-b.txt"
    for _ in $(seq "$runs"); do
        bash -c "$prep"; /usr/bin/time -a -o "$OUT/$name-a.txt" -f '%e %U %S' bash -c "$a"
        bash -c "$prep"; /usr/bin/time -a -o "$OUT/$name-b.txt" -f '%e %U %S' bash -c "$b"
    done
    python3 - "$OUT/$name-a.txt" "$OUT/$name-b.txt" "$a" "$b" <<'PY' | tee "$OUT/$name-interleaved.txt"
import statistics, sys
for path, cmd in ((sys.argv[1], sys.argv[3]), (sys.argv[2], sys.argv[4])):
    rows = [list(map(float, l.split())) for l in open(path)]
    wall = [r[0] for r in rows]
    print(f"{statistics.median(wall):7.2f} s median wall, {statistics.median(r[2] for r in rows):5.2f} s median system, runs {wall}: {cmd}")
PY
}
if [ "${SKIP_BIG:-0}" != 1 ]; then
    bench big --runs "$COPY_RUNS" --prepare "rm -rf $BIGT && mkdir -p $BIGT && sync" \
        -n "duplora-cli run" "$CLI --config $CFG run big >/dev/null" \
        -n "cp -a" "cp -a $BIG/big.bin $BIGT/"
    interleave big 7 "rm -rf $BIGT && mkdir -p $BIGT && sync" \
        "$CLI --config $CFG run big >/dev/null" "cp -a $BIG/big.bin $BIGT/"
    rm -rf "$BIGT"
fi

# --- 5. peak RSS of plan, and how time and memory grow with the tree --------
rss() { /usr/bin/time -f '%M KiB %e s' "$@" 2>&1 >/dev/null | tail -1; }
{
    echo "peak RSS (100,000 files per side):"
    echo "  duplora-cli plan:      $(rss "$CLI" --config "$CFG" plan same)"
    echo "  find -printf:          $(rss find "$SMALL" "$SAME" -printf '%s %T@\n')"
    echo "  rsync -a --delete -n:  $(rss rsync -a --delete -n "$SMALL/" "$SAME/")"
    echo "growth (empty files, 20 per folder, both sides identical; plan beside find):"
    for n in $SCALE_SIZES; do
        d=$SCALE_DATA/scale-$n
        [ -d "$d/host" ] || { $GEN empty "$d/host" --files $n --folders $((n / 20)); cp -a "$d/host" "$d/mirror"; }
        cli new "scale$n" --host "$d/host" --mirror "$d/mirror" "${oneway[@]}" 2>/dev/null || true
        hyperfine --style none --warmup 1 --runs "$RUNS" --export-json "$OUT/scale-$n.json" \
            "$CLI --config $CFG plan scale$n >/dev/null" \
            "find $d/host $d/mirror -printf '%s %T@\n' >/dev/null" >/dev/null
        medians=$(python3 -c "import json; r=json.load(open('$OUT/scale-$n.json'))['results']; print(f\"{r[0]['median']*1000:.0f} ms median, find {r[1]['median']*1000:.0f} ms ({r[0]['median']/r[1]['median']:.2f}x)\")")
        echo "  $n files per side: $medians, $(rss "$CLI" --config "$CFG" plan "scale$n")"
    done
} | tee "$OUT/rss.txt"

# --- clean up the big files -------------------------------------------------
rm -rf "$TARGET" "$BIGT"
if [ "${KEEP_DATA:-0}" != 1 ]; then
    rm -rf "$DATA" "$SCALE_DATA"
fi
echo "results in $OUT"
