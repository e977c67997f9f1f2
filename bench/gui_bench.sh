#!/bin/sh
# Progress window against the console program on the same task.
#
#   bench/gui_bench.sh BUILD DATA TREE ROUNDS [CANCEL_MS]
#
# TREE is "small" or "big"; DATA/TREE must hold the tree (bench/gui_tree.py
# makes it). Each round copies DATA/TREE into a fresh empty DATA/TREE-mirror
# once with `duplora-cli run`, once through the window without probes, once
# with the event-loop probe and once with a Cancel click at CANCEL_MS after
# the copy began (default 1000). Every run gets a new empty mirror folder
# and the disk is synced first, so no run pays for the previous one's
# write-back. The mirrors are only removed at the end: right after 100,000
# files are deleted, the file system takes several times longer to create
# new ones (it skips the freed inodes for a while), which would charge one
# run for the previous run's clean-up. One uncounted console run first warms
# the page cache.
set -eu

BUILD=$1
DATA=$2
TREE=$3
ROUNDS=$4
CANCEL_MS=${5:-1000}
CLI=$BUILD/duplora-cli
GUI=$BUILD/bench/gui_responsiveness
CFG=$DATA/gui_bench.cfg
SRC=$DATA/$TREE
RUN=0
DST=

rm -f "$CFG"
# A one-way copy of everything, sub-folders included, without a speed limit.
"$CLI" --config "$CFG" new "$TREE" --host "$SRC" --mirror "$DATA/$TREE-mirror" --subfolders on \
    --only-in-host to-mirror --size-differs to-mirror --newer-in-host to-mirror --speed 0 >/dev/null

fresh() {
    # One big file is cheap to delete; many small ones are not (see above).
    if [ -n "$DST" ] && [ "$TREE" = big ]; then
        rm -rf "$DST"
    fi
    RUN=$((RUN + 1))
    DST=$DATA/$TREE-mirror-$RUN
    rm -rf "$DST"
    mkdir -p "$DST"
    "$CLI" --config "$CFG" set "$TREE" --mirror "$DST" >/dev/null
    sync
}

now_ms() {
    echo $(($(date +%s%N) / 1000000))
}

cli_run() {
    fresh
    t0=$(now_ms)
    /usr/bin/time -o "$DATA/cli.time" -f "%U %S" "$CLI" --config "$CFG" run "$TREE" >/dev/null ||
        echo "cli run failed" >&2
    t1=$(now_ms)
    echo "cli wall_ms=$((t1 - t0)) $(awk '{ printf "user_ms=%.0f sys_ms=%.0f", $1 * 1000, $2 * 1000 }' "$DATA/cli.time")"
}

echo "# $TREE, $(date -u '+%F %T'), load: $(cut -d' ' -f1-3 /proc/loadavg)"
fresh
"$CLI" --config "$CFG" run "$TREE" >/dev/null # warm-up, not counted
i=1
while [ "$i" -le "$ROUNDS" ]; do
    echo "## round $i, load: $(cut -d' ' -f1-3 /proc/loadavg)"
    cli_run
    fresh
    echo "gui $("$GUI" --config "$CFG" --task "$TREE")"
    fresh
    echo "probe $("$GUI" --config "$CFG" --task "$TREE" --probe)"
    fresh
    echo "cancel $("$GUI" --config "$CFG" --task "$TREE" --probe --cancel-at "$CANCEL_MS")"
    i=$((i + 1))
done
echo "# done; remove $DATA/$TREE-mirror-* when no longer measuring"
rm -f "$CFG" "$DATA/duplora.log" "$DATA/cli.time"
