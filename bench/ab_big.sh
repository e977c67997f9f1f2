#!/usr/bin/env bash
# One 2 GiB file copied by two duplora-cli builds and by `cp -a`, on a fresh
# file system, one run of each per round; the order turns every round, so
# the disk's write-back of one run falls on all three alike. Medians.
#
#   bench/ab_big.sh CLI_A CLI_B tmpfs|ext4 [RUNS]
#
# tmpfs: 6 GiB of memory, the copy is the kernel's page copy alone. ext4: a
# sparse 6 GiB image under bench/data/ on a loop device (root needed for
# both), removed afterwards. Round 0 warms the caches and is not counted.

set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
A=$(realpath "$1")
B=$(realpath "$2")
FS=$3
RUNS=${4:-5}
DATA=$HERE/data/ab-big
MNT=$DATA/mnt
mkdir -p "$MNT"
cleanup() {
    cd /
    mountpoint -q "$MNT" && umount "$MNT"
    rm -rf "$DATA"
}
trap cleanup EXIT
case $FS in
tmpfs) mount -t tmpfs -o size=6g abbig "$MNT" ;;
ext4)
    truncate -s 6G "$DATA/ext4.img"
    mkfs.ext4 -q -F "$DATA/ext4.img"
    mount -o loop "$DATA/ext4.img" "$MNT"
    ;;
*) echo "unknown file system $FS" >&2; exit 1 ;;
esac
python3 "$HERE/gen_tree.py" big "$MNT/src/big.bin" --mib 2048 >/dev/null
for side in a b; do
    cli=$A
    [ $side = b ] && cli=$B
    "$cli" --config "$DATA/$side.cfg" --lang en new big --host "$MNT/src" --mirror "$MNT/target" \
        --subfolders on --speed 0 --only-in-host to-mirror >/dev/null
done
names=(A B "cp -a")
cmds=("$A --config $DATA/a.cfg run big" "$B --config $DATA/b.cfg run big"
      "cp -a $MNT/src/. $MNT/target/")
echo "$FS, one 2 GiB file, $RUNS rounds, $(date -u '+%H:%M UTC'), load $(cut -d' ' -f1-3 /proc/loadavg)"
for r in $(seq 0 "$RUNS"); do
    for k in 0 1 2; do
        i=$(((k + r) % 3))
        rm -rf "$MNT/target" && mkdir -p "$MNT/target" && sync && sleep 1
        start=$(date +%s.%N)
        bash -c "${cmds[$i]}" >/dev/null
        end=$(date +%s.%N)
        [ "$r" = 0 ] || echo "$i $(echo "$end - $start" | bc)" >>"$DATA/times.txt"
    done
done
cmp "$MNT/src/big.bin" "$MNT/target/big.bin"
python3 - "$DATA/times.txt" "${names[@]}" <<'PY'
import collections, statistics, sys
times = collections.defaultdict(list)
for line in open(sys.argv[1]):
    i, t = line.split()
    times[int(i)].append(float(t))
cp = statistics.median(times[2])
for i, name in enumerate(sys.argv[2:]):
    m = statistics.median(times[i])
    print(f"  {name:6s} {m:5.2f} s ({cp / m:4.2f}x cp's throughput)  runs {[round(t, 2) for t in times[i]]}")
PY
echo "  load after $(cut -d' ' -f1-3 /proc/loadavg)"
