#!/usr/bin/env bash
# The initial-copy figures: duplora-cli against `cp -a` on fresh file systems
# (bench/local_copy.sh, interleaved runs, medians), and a speed-limited copy
# timed against the time the limit allows.
#
#   bench/copy_figures.sh [path/to/duplora-cli]   (default: build/duplora-cli)
#
# Environment: RUNS (default 5). Needs root (tmpfs and loop mounts), about
# 3 GiB of memory for the tmpfs case and 6 GiB of disk for the image (sparse,
# removed afterwards).

set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
CLI=$(realpath "${1:-$ROOT/build/duplora-cli}")
RUNS=${RUNS:-5}

"$HERE/local_copy.sh" "$CLI" tmpfs 20000 0 "$RUNS"
"$HERE/local_copy.sh" "$CLI" ext4 100000 0 "$RUNS"
"$HERE/local_copy.sh" "$CLI" ext4 1 big "$RUNS"

# Speed limit: 20,000,000 bytes at 5,000 KB/s (1 KB = 1,000 bytes) take 4 s;
# the first 16 KiB step is granted at once, so 3.997 s is exact.
DATA=$HERE/data/speed
rm -rf "$DATA" && mkdir -p "$DATA/src"
head -c 20000000 /dev/urandom >"$DATA/src/f"
CFG=$DATA/bench.cfg
"$CLI" --config "$CFG" --lang en new limited --host "$DATA/src" --mirror "$DATA/dst" \
    --subfolders on --speed 5000 --only-in-host to-mirror >/dev/null
for _ in 1 2 3; do
    rm -rf "$DATA/dst"
    /usr/bin/time -f '  speed limit 5,000 KB/s, 20,000,000 bytes: %e s (exact: 4.00 s)' \
        "$CLI" --config "$CFG" run limited >/dev/null
done
cmp "$DATA/src/f" "$DATA/dst/f" && echo "  the limited copy is identical"
rm -rf "$DATA"
