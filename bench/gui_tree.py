#!/usr/bin/env python3
"""Test trees for the progress-window measurements.

  gui_tree.py small DIR   100,000 files of 0-16 KiB in 5,000 folders
                          (50 top folders of 99 sub-folders, 20 files each
                          in the sub-folders, 2 in each top folder)
  gui_tree.py big DIR     one file of 2 GiB

The contents are random bytes from a fixed seed, so every tree made with the
same arguments is the same.
"""

import os
import random
import sys

FILES = 100_000
TOP = 50
SUB = 99  # 50 + 50 * 99 = 5,000 folders
MAX_SIZE = 16 * 1024
BIG = 2 << 30


def small(root):
    rng = random.Random(20260)
    pool = rng.randbytes(MAX_SIZE * 4)
    folders = []
    for t in range(TOP):
        top = os.path.join(root, f"t{t:02d}")
        folders.append(top)
        for s in range(SUB):
            folders.append(os.path.join(top, f"s{s:02d}"))
    for f in folders:
        os.makedirs(f, exist_ok=True)
    # The sub-folders take 20 files each (99,000), the top folders the rest.
    subs = [f for f in folders if os.path.basename(f).startswith("s")]
    tops = [f for f in folders if os.path.basename(f).startswith("t")]
    slots = [d for d in subs for _ in range(20)]
    slots += [tops[i % len(tops)] for i in range(FILES - len(slots))]
    for i, d in enumerate(slots):
        size = rng.randint(0, MAX_SIZE)
        start = rng.randint(0, len(pool) - MAX_SIZE)
        with open(os.path.join(d, f"f{i:06d}.dat"), "wb") as out:
            out.write(pool[start : start + size])


def big(root):
    os.makedirs(root, exist_ok=True)
    rng = random.Random(20261)
    step = 8 << 20
    block = rng.randbytes(step)
    with open(os.path.join(root, "big.bin"), "wb") as out:
        for i in range(BIG // step):
            # A different first word per block, so no two blocks are equal.
            out.write(i.to_bytes(8, "little") + block[8:])


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("small", "big"):
        sys.exit(__doc__)
    (small if sys.argv[1] == "small" else big)(sys.argv[2])


if __name__ == "__main__":
    main()
