#!/usr/bin/env python3
"""Deterministic benchmark trees for duplora-cli.

  gen_tree.py small  DIR [--files N] [--folders F]   N files of 0-16 KiB in F folders
             [--kib K]                              ... of exactly K KiB each instead
  gen_tree.py empty  DIR [--files N] [--folders F]   N empty files (plan scaling: only names count)
  gen_tree.py big    FILE [--mib M]                  one file of M MiB (default 2048)
  gen_tree.py mirror SRC DST                         copy of SRC with 2% changed, 1% removed, 1% added

The same arguments always give the same names, sizes, contents and times
(seed 20261208), so runs on different days compare. Folders are two levels
deep: sqrt(F) top folders with sqrt(F) sub-folders each, the files spread
evenly over them. File times are fixed: 2026-01-01 00:00:00 UTC plus the file
number in seconds.
"""

import argparse
import math
import os
import random
import shutil
import sys

SEED = 20261208
BASE_TIME = 1767225600  # 2026-01-01 00:00:00 UTC
POOL_SIZE = 1 << 20


def pool(rng):
    # One MiB of random bytes; each file takes a slice at its own offset, so
    # contents differ between files without generating 800 MB of randomness.
    return rng.randbytes(POOL_SIZE)


def folder_names(count):
    side = max(1, int(math.isqrt(count)))
    names = []
    for top in range(side):
        for sub in range(side):
            names.append(f"d{top:03d}/s{sub:03d}")
    return names


def write_file(path, data, mtime):
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (mtime, mtime))


def make_tree(root, files, folders, max_size, fixed=False):
    rng = random.Random(SEED)
    data = pool(rng)
    dirs = folder_names(folders)
    for d in dirs:
        os.makedirs(os.path.join(root, d), exist_ok=True)
    for i in range(files):
        d = dirs[i % len(dirs)]
        size = max_size if fixed else rng.randint(0, max_size) if max_size else 0
        offset = rng.randrange(0, max(1, POOL_SIZE - max_size)) if max_size else 0
        write_file(os.path.join(root, d, f"f{i:06d}.dat"), data[offset:offset + size],
                   BASE_TIME + i)
    print(f"{root}: {files} files in {len(dirs)} folders", file=sys.stderr)


def make_big(path, mib):
    rng = random.Random(SEED)
    data = pool(rng)
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "wb") as f:
        for _ in range(mib):
            f.write(data)
    os.utime(path, (BASE_TIME, BASE_TIME))
    print(f"{path}: {mib} MiB", file=sys.stderr)


def make_mirror(src, dst):
    """dst = src as it was before the host changed: 2% of the files have
    other contents and an older time, 1% are missing (the host added them),
    and 1% more exist only here (the host removed them)."""
    if os.path.exists(dst):
        shutil.rmtree(dst)
    shutil.copytree(src, dst, copy_function=shutil.copy2)
    files = []
    for dirpath, _, names in os.walk(dst):
        for n in names:
            files.append(os.path.join(dirpath, n))
    files.sort()
    rng = random.Random(SEED + 1)
    rng.shuffle(files)
    n = len(files)
    changed = files[: n * 2 // 100]
    removed = files[n * 2 // 100: n * 3 // 100]
    for i, path in enumerate(changed):
        write_file(path, b"stale contents " * (1 + i % 50), BASE_TIME - 86400)
    for path in removed:
        os.remove(path)
    dirs = sorted({os.path.dirname(p) for p in files})
    for i in range(n // 100):
        d = dirs[i % len(dirs)]
        write_file(os.path.join(d, f"extra{i:06d}.dat"), b"only in the mirror\n" * (1 + i % 20),
                   BASE_TIME)
    print(f"{dst}: {len(changed)} changed, {len(removed)} removed, {n // 100} added",
          file=sys.stderr)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    sub = ap.add_subparsers(dest="kind", required=True)
    for kind in ("small", "empty"):
        p = sub.add_parser(kind)
        p.add_argument("dir")
        p.add_argument("--files", type=int, default=100_000)
        p.add_argument("--folders", type=int, default=5_000)
        p.add_argument("--kib", type=int, default=0)
    p = sub.add_parser("big")
    p.add_argument("file")
    p.add_argument("--mib", type=int, default=2048)
    p = sub.add_parser("mirror")
    p.add_argument("src")
    p.add_argument("dst")
    a = ap.parse_args()
    if a.kind == "small":
        make_tree(a.dir, a.files, a.folders, (a.kib or 16) * 1024, fixed=a.kib > 0)
    elif a.kind == "empty":
        make_tree(a.dir, a.files, a.folders, 0)
    elif a.kind == "big":
        make_big(a.file, a.mib)
    else:
        make_mirror(a.src, a.dst)


if __name__ == "__main__":
    main()
