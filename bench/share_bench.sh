#!/usr/bin/env bash
# duplora-cli against `cp -r` over a GVfs mount of a real Samba share:
# 1,000 small files and one 200 MiB file, local -> share and share -> local.
#
#   bench/share_bench.sh [path/to/duplora-cli]     (default: build/duplora-cli)
#
# Runs as root (a system user for the share). Starts smbd on 127.0.0.1 and a
# free port under a temporary folder, inside a D-Bus session of its own, and
# stops everything by process id at the end. RUNS (default 5) runs of each
# command; the median is printed, with duplora's time over cp's. STRACE=1 adds
# a system-call summary of one upload of each.
#
# Both sides work through the same mount: the share is mounted once before
# the runs and the duplora task has no credentials, so it takes that mount
# (connecting costs once per run; its time is printed separately).

set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
# shellcheck source=share_server.sh
. "$HERE/share_server.sh"
CLI=$(realpath "${1:-$ROOT/build/duplora-cli}")
RUNS=${RUNS:-5}
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 1; }
[ -x "$CLI" ] || { echo "no duplora-cli at $CLI" >&2; exit 1; }

if [ -z "${DUPLORA_BENCH_SESSION:-}" ]; then
    T=$(mktemp -d /tmp/duplora-share-bench.XXXXXX)
    chmod 755 "$T"
    mkdir -p "$T"/{xdg,local}
    chmod 700 "$T/xdg"
    PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    write_share_server "$T" "$PORT"
    chown duplorasmb: "$T/share"
    setsid /usr/sbin/smbd --foreground --no-process-group -s "$T/smb.conf" >"$T/smbd.out" 2>&1 &
    SMBD=$!
    trap 'kill $SMBD 2>/dev/null; wait $SMBD 2>/dev/null || true; rm -rf "$T"' EXIT
    for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/$PORT) 2>/dev/null && break; sleep 0.1; done
    export XDG_RUNTIME_DIR=$T/xdg GVFS_REMOTE_VOLUME_MONITOR_IGNORE=1
    DUPLORA_BENCH_SESSION=1 T=$T PORT=$PORT dbus-run-session -- "$0" "$CLI"
    exit
fi

URI=smb://127.0.0.1:$PORT/data
LOCAL=$T/local
CFG=$T/bench.cfg
cli() { "$CLI" --config "$CFG" --lang en "$@"; }

# Test data: 1,000 files of 1-16 KiB in 20 folders, and one of 200 MiB.
python3 - "$LOCAL/src" <<'PY'
import os, random, sys
root = sys.argv[1]; random.seed(7)
for i in range(1000):
    d = os.path.join(root, "small", "d%02d" % (i % 20)); os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%04d.bin" % i), "wb") as f:
        f.write(os.urandom(random.randint(1024, 16384)))
PY
head -c $((200 * 1024 * 1024)) /dev/urandom >"$LOCAL/src/big.bin"

printf 'duplorasmb\n\nbench-pw\n' | gio mount "$URI" >/dev/null 2>&1
M="$XDG_RUNTIME_DIR/gvfs/smb-share:port=$PORT,server=127.0.0.1,share=data"
[ -d "$M" ] || { echo "share not mounted at $M" >&2; exit 1; }

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
now() { date +%s.%N; }
timed() { local s e; s=$(now); "$@" >/dev/null; e=$(now); echo "$e - $s" | bc -l; }
# Through the mount while it is there: files removed behind GVfs's back stay
# in its caches for a while.
clear_share() { if [ -d "$M/dst" ]; then rm -rf "$M/dst"; else rm -rf "$T/share/"*; fi; }
drop() { sync; }

cli new Up --host "$LOCAL/src" --mirror "//127.0.0.1:$PORT/data/dst" --subfolders on \
    --only-in-host to-mirror --speed 0 >/dev/null
cli new Down --host "//127.0.0.1:$PORT/data/dst" --mirror "$LOCAL/back" --subfolders on \
    --only-in-host to-mirror --speed 0 >/dev/null
cli new UpConnect --host "$LOCAL/src" --mirror "//127.0.0.1:$PORT/data/dst" --subfolders on \
    --only-in-host to-mirror --speed 0 --net-user duplorasmb --net-password bench-pw >/dev/null

# cp and duplora take turns in every round, so a load that comes and goes on
# the machine hits both alike; each round's ratio is taken, and the median
# of those ratios printed beside the median times.
declare -A R
ratio() { echo "$1 / $2" | bc -l; }
for i in $(seq "$RUNS"); do
    clear_share; drop
    c=$(timed cp -r "$LOCAL/src" "$M/dst"); R[cp_up]+="$c "
    clear_share; drop
    d=$(timed cli run Up); R[dup_up]+="$d "; R[r_up]+="$(ratio "$d" "$c") "
    rm -rf "$LOCAL/back"; drop
    c=$(timed cp -r "$M/dst" "$LOCAL/back"); R[cp_down]+="$c "
    rm -rf "$LOCAL/back"; drop
    d=$(timed cli run Down); R[dup_down]+="$d "; R[r_down]+="$(ratio "$d" "$c") "
    cmp -s "$LOCAL/src/big.bin" "$LOCAL/back/big.bin" || { echo "copy differs" >&2; exit 1; }
done
# Where an upload's time goes (STRACE=1): the system calls of one run of each,
# summed over all threads, the same mount, an empty target.
if [ "${STRACE:-0}" = 1 ]; then
    clear_share; drop
    strace -c -f -w -o "$T/strace-cp.txt" cp -r "$LOCAL/src" "$M/dst"
    clear_share; drop
    strace -c -f -w -o "$T/strace-duplora.txt" "$CLI" --config "$CFG" --lang en run Up >/dev/null
    for f in cp duplora; do echo "--- strace -c -f -w, upload, $f"; head -25 "$T/strace-$f.txt"; done
fi
# The upload again with the run mounting and unmounting the share itself.
gio mount -u "$URI"
for i in $(seq "$RUNS"); do
    # Emptied on the server, behind GVfs's back (no mount is left to do it
    # through): its FUSE bridge may show the old files for a second or two,
    # and a run then finds nothing to copy.
    rm -rf "$T/share/"*; drop
    sleep 2
    s=$(now)
    copied=$(cli run UpConnect | sed -n 's/^Host folder -> Mirror folder: \([0-9]*\) files$/\1/p')
    e=$(now)
    R[dup_up_connect]+="$(echo "$e - $s" | bc -l) "
    R[connect_files]+="${copied:-0} "
done

echo "files copied by each run that mounted the share itself: ${R[connect_files]}"
for k in cp_up dup_up dup_up_connect cp_down dup_down r_up r_down; do
    m=$(echo ${R[$k]} | tr ' ' '\n' | median)
    printf '%-15s median %6.2f   (%s)\n' "$k" "$m" "${R[$k]}"
done
