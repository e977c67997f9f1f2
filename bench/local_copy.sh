#!/usr/bin/env bash
# Initial copies onto one local file system: duplora-cli with its copies on
# the run's thread, duplora-cli with copy workers, and `cp -a`, one run of each
# in turn (interleaved, so a drifting load hits all three alike); medians.
#
#   bench/local_copy.sh CLI FS FILES KIB [RUNS] [WORKERS...]
#
#   FS       tmpfs | ext4 | exfat: a fresh file system of that type is mounted
#            under bench/data/ (tmpfs: 3 GiB; ext4 and exFAT: a sparse image on
#            the disk, on a loop device; exFAT through exfat-fuse) and removed after.
#            The source tree lies on the same file system, except for exFAT,
#            where it lies on the disk (a backup onto a USB stick).
#   FILES    number of files (in FILES/20 folders, bench/gen_tree.py)
#   KIB      0 for 0-16 KiB each, else exactly KIB KiB each; FILES=1 with
#            KIB=big: one 2 GiB file
#   RUNS     runs of each command (default 5)
#   WORKERS  duplora-cli columns: "auto" (the run decides, the default) or a
#            worker count to force (0: every copy on the run's thread)
#
# A worker count is forced through DUPLORA_COPY_WORKERS, which only a
# measuring build of duplora-cli reads (see RESULTS.md). Needs root (mount).
# Prints one line per command: median wall, system and user seconds, the
# ratio to `cp -a`, and the load average before and after.

set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
CLI=$(realpath "$1")
FS=$2
FILES=$3
KIB=$4
RUNS=${5:-5}
shift $(($# < 5 ? $# : 5))
WORKERS=("${@:-auto}")
DATA=$HERE/data/local-$FS
MNT=$DATA/mnt
OUT=$HERE/out/local-$FS-$FILES-$KIB
GEN="python3 $HERE/gen_tree.py"

mkdir -p "$MNT" "$OUT"
cleanup() {
    cd /
    mountpoint -q "$MNT" && { umount "$MNT" || umount -l "$MNT"; }
    [ -n "${LOOP:-}" ] && losetup -d "$LOOP"
    rm -rf "$DATA"
}
trap cleanup EXIT

case $FS in
tmpfs) mount -t tmpfs -o size=3g bench "$MNT" ;;
ext4)
    truncate -s 6G "$DATA/ext4.img"
    mkfs.ext4 -q -F "$DATA/ext4.img"
    mount -o loop "$DATA/ext4.img" "$MNT"
    ;;
exfat)
    truncate -s 6G "$DATA/exfat.img"
    mkfs.exfat "$DATA/exfat.img" >/dev/null
    LOOP=$(losetup -f --show "$DATA/exfat.img")
    mount.exfat-fuse "$LOOP" "$MNT" >/dev/null 2>&1
    ;;
*) echo "unknown file system $FS" >&2; exit 1 ;;
esac

SRC=$MNT/src
[ "$FS" = exfat ] && SRC=$DATA/src
TARGET=$MNT/target
if [ "$KIB" = big ]; then
    $GEN big "$SRC/big.bin" --mib 2048
elif [ "$KIB" = 0 ]; then
    $GEN small "$SRC" --files "$FILES" --folders $((FILES / 20 > 0 ? FILES / 20 : 1))
else
    $GEN small "$SRC" --files "$FILES" --folders $((FILES / 20 > 0 ? FILES / 20 : 1)) --kib "$KIB"
fi
CFG=$OUT/bench.cfg
rm -f "$CFG"
"$CLI" --config "$CFG" --lang en new init --host "$SRC" --mirror "$TARGET" --subfolders on \
    --speed 0 --only-in-host to-mirror --only-in-mirror delete --newer-in-host to-mirror \
    --newer-in-mirror to-mirror --size-differs to-mirror >/dev/null

names=()
cmds=()
for w in "${WORKERS[@]}"; do
    if [ "$w" = auto ]; then
        names+=("duplora")
        cmds+=("$CLI --config $CFG run init >/dev/null")
    else
        names+=("workers $w")
        cmds+=("DUPLORA_COPY_WORKERS=$w $CLI --config $CFG run init >/dev/null")
    fi
done
names+=("cp -a")
cmds+=("cp -a $SRC/. $TARGET/")

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "$FS, $FILES files of $( [ "$KIB" = 0 ] && echo 0-16 || echo "$KIB") KiB, $RUNS runs each, $(date -u '+%H:%M UTC'), load $(load)"
for i in "${!cmds[@]}"; do rm -f "$OUT/$i.txt"; done
# Round 0 warms the caches (source tree, binaries) and is not counted.
for round in $(seq 0 "$RUNS"); do
    for i in "${!cmds[@]}"; do
        rm -rf "$TARGET" && mkdir -p "$TARGET" && sync
        if [ "$round" = 0 ]; then
            bash -c "${cmds[$i]}"
        else
            /usr/bin/time -a -o "$OUT/$i.txt" -f '%e %S %U' bash -c "${cmds[$i]}"
        fi
    done
done
# The last run must have copied everything.
rm -rf "$TARGET" && mkdir -p "$TARGET"
bash -c "${cmds[0]}"
diff -r "$SRC" "$TARGET" >/dev/null || echo "WARNING: the copy differs from the source"
python3 - "$OUT" "${names[@]}" <<'PY'
import statistics, sys
out, names = sys.argv[1], sys.argv[2:]
rows = {}
for i, n in enumerate(names):
    rows[n] = [list(map(float, l.split())) for l in open(f"{out}/{i}.txt") if l[0].isdigit()]
cps = rows["cp -a"]
cp = max(0.01, statistics.median(r[0] for r in cps))
for n, r in rows.items():
    wall = statistics.median(x[0] for x in r)
    # The load drifts between rounds: the ratio within each round as well.
    pairs = statistics.median(x[0] / max(0.01, c[0]) for x, c in zip(r, cps))
    print(f"  {n:10s} {wall:7.2f} s wall ({wall / cp:4.2f}x cp, {pairs:4.2f}x within rounds)"
          f"  system {statistics.median(x[1] for x in r):6.2f} s"
          f"  user {statistics.median(x[2] for x in r):5.2f} s  runs {[x[0] for x in r]}")
PY
echo "  load after $(load)"
