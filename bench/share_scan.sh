#!/usr/bin/env bash
# The plan of a tree on a Samba share through GVfs (FUSE) against a local copy
# of it, with the share's folders read by the walk alone and read ahead by
# threads (DUPLORA_SCAN_AHEAD, sync/scan/ListingAhead.h):
#
#   bench/share_scan.sh [path/to/duplora-cli]     (default: build/duplora-cli)
#
# The tree: TOP (default 30) folders of SUB (10) folders of FILES (10) small
# files each, 3,000 files in 330 folders. RUNS (default 5) rounds; every round
# times one `plan` per setting of AHEAD (default "0 2 4 8"), in turn, so that a
# load that comes and goes hits all alike; medians are printed. The first plan
# (not timed) warms GVfs's caches for all. `find -printf '%s %T@'` over the
# same tree, once per round, is the reference: one walker, one stat per entry.
#
# Runs as root (a system user for the share). The server is set up as in
# share_bench.sh: smbd on 127.0.0.1 and a free port under a temporary folder,
# inside a D-Bus session of its own, stopped by process id at the end.

set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
# shellcheck source=share_server.sh
. "$HERE/share_server.sh"
CLI=$(realpath "${1:-$ROOT/build/duplora-cli}")
RUNS=${RUNS:-5}
AHEAD=${AHEAD:-0 2 4 8}
TOP=${TOP:-30}
SUB=${SUB:-10}
FILES=${FILES:-10}
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 1; }
[ -x "$CLI" ] || { echo "no duplora-cli at $CLI" >&2; exit 1; }

if [ -z "${DUPLORA_BENCH_SESSION:-}" ]; then
    T=$(mktemp -d /tmp/duplora-share-scan.XXXXXX)
    chmod 755 "$T"
    mkdir -p "$T"/{xdg,local}
    chmod 700 "$T/xdg"
    PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    write_share_server "$T" "$PORT"
    # The tree, written on the server's side and copied to the local side.
    python3 - "$T/share/tree" "$TOP" "$SUB" "$FILES" <<'PY'
import os, sys
root, top, sub, files = sys.argv[1], *map(int, sys.argv[2:])
for t in range(top):
    for s in range(sub):
        d = os.path.join(root, "t%02d" % t, "s%02d" % s)
        os.makedirs(d)
        for f in range(files):
            with open(os.path.join(d, "f%02d.txt" % f), "w") as out:
                out.write("x" * (t * s + f))
PY
    cp -a "$T/share/tree" "$T/local/tree"
    chown -R duplorasmb: "$T/share"
    setsid /usr/sbin/smbd --foreground --no-process-group -s "$T/smb.conf" >"$T/smbd.out" 2>&1 &
    SMBD=$!
    trap 'kill $SMBD 2>/dev/null; wait $SMBD 2>/dev/null || true; rm -rf "$T"' EXIT
    for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/$PORT) 2>/dev/null && break; sleep 0.1; done
    export XDG_RUNTIME_DIR=$T/xdg GVFS_REMOTE_VOLUME_MONITOR_IGNORE=1
    DUPLORA_BENCH_SESSION=1 T=$T PORT=$PORT dbus-run-session -- "$0" "$CLI" || true
    exit
fi

URI=smb://127.0.0.1:$PORT/data
CFG=$T/bench.cfg
cli() { "$CLI" --config "$CFG" --lang en "$@"; }
printf 'duplorasmb\n\nbench-pw\n' | gio mount "$URI" >/dev/null 2>&1
M="$XDG_RUNTIME_DIR/gvfs/smb-share:port=$PORT,server=127.0.0.1,share=data"
[ -d "$M/tree" ] || { echo "share not mounted at $M" >&2; exit 1; }

cli new Scan --host "$M/tree" --mirror "$T/local/tree" --subfolders on \
    --only-in-host to-mirror >/dev/null
cli plan Scan >"$T/plan-warm.txt"

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
now() { date +%s.%N; }
declare -A R
for i in $(seq "$RUNS"); do
    for a in $AHEAD; do
        s=$(now)
        DUPLORA_SCAN_AHEAD=$a cli plan Scan >"$T/plan-$a.txt"
        e=$(now)
        R[$a]+="$(echo "$e - $s" | bc -l) "
        cmp -s "$T/plan-warm.txt" "$T/plan-$a.txt" || { echo "plan differs with $a" >&2; exit 1; }
    done
    # For reference: one walker that stats every entry, as the plan does.
    s=$(now)
    find "$M/tree" -printf '%s %T@\n' >/dev/null
    e=$(now)
    R[find]+="$(echo "$e - $s" | bc -l) "
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
# Processor time of the share's daemons over all plans (the server's smbd
# runs outside this session, so it is found by name).
echo "daemons' processor time: $(ps -C gvfsd-fuse,gvfsd-smb,smbd -o comm=,time= | tr '\n' ' ')"
echo "plan: $(tail -1 "$T/plan-warm.txt")"
for a in $AHEAD find; do
    m=$(echo ${R[$a]} | tr ' ' '\n' | median)
    printf '%-8s median %6.3f s   (%s)\n' "$a" "$m" "${R[$a]}"
done
gio mount -u "$URI"
