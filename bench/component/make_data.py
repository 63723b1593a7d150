#!/usr/bin/env python3
"""Deterministic data set of the component benchmark.

  make_data.py DIR [--records N] [--pictures N] [--small N] [--tiny N]

DIR/records   N record files (default 40) of about 7.5 MB that deflate about 4.6:1,
DIR/pictures  N incompressible "pictures" (default 200) of 60-200 KB,
DIR/small     N files (default 20000) of 1-8 KB of record text,
DIR/tiny      N files (default 0) of 100-300 bytes, for the name-lookup scaling run.
The same arguments always give the same bytes.
"""
import argparse
import os
import random

SURNAMES = ["Andersson", "Johansson", "Karlsson", "Nilsson", "Eriksson", "Larsson",
            "Olsson", "Persson", "Svensson", "Gustafsson", "Pettersson", "Jonsson"]
FIRST = ["Anna", "Erik", "Maria", "Lars", "Karin", "Johan", "Eva", "Per", "Sara", "Nils"]
STREETS = ["Storgatan", "Kyrkvagen", "Skolgatan", "Ringvagen", "Parkgatan", "Bergsgatan"]
CITIES = ["Vessimbrant", "Uppsala", "Lund", "Falun", "Visby", "Kiruna", "Orebro"]


def record(rng, number):
    return "%07d;%-12s;%-8s;%-10s %3d;%-12s;%04d-%02d-%02d;%5d.00;member;active;%s\n" % (
        number, rng.choice(SURNAMES), rng.choice(FIRST), rng.choice(STREETS),
        rng.randint(1, 99), rng.choice(CITIES), rng.randint(1950, 1999),
        rng.randint(1, 12), rng.randint(1, 6), rng.randint(0, 99) * 10,
        " " * rng.randint(0, 6))


def record_block(seed, size):
    rng = random.Random(seed)
    parts, total, n = [], 0, seed * 100000
    while total < size:
        line = record(rng, n)
        parts.append(line)
        total += len(line)
        n += 1
    return "".join(parts).encode("ascii")[:size]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("dir")
    p.add_argument("--records", type=int, default=40)
    p.add_argument("--pictures", type=int, default=200)
    p.add_argument("--small", type=int, default=20000)
    p.add_argument("--tiny", type=int, default=0)
    a = p.parse_args()
    # A pool of distinct 1 MiB blocks; each file is a different sequence of them, far
    # more than deflate's 32 KiB window apart, so the ratio is that of fresh data.
    pool = [record_block(seed, 1 << 20) for seed in range(16)]
    rng = random.Random(1)
    os.makedirs(os.path.join(a.dir, "records"), exist_ok=True)
    for i in range(a.records):
        blocks = [pool[rng.randrange(len(pool))] for _ in range(7)]
        tail = pool[rng.randrange(len(pool))][: 512 * 1024 + rng.randrange(65536)]
        with open(os.path.join(a.dir, "records", "rec%03d.dat" % i), "wb") as f:
            f.write(b"".join(blocks) + tail)
    os.makedirs(os.path.join(a.dir, "pictures"), exist_ok=True)
    for i in range(a.pictures):
        size = rng.randint(60 * 1024, 200 * 1024)
        with open(os.path.join(a.dir, "pictures", "img%03d.jpg" % i), "wb") as f:
            f.write(rng.randbytes(size))
    text = b"".join(pool[:2])
    for folder, count, low, high in (("small", a.small, 1024, 8192), ("tiny", a.tiny, 100, 300)):
        if count == 0:
            continue
        os.makedirs(os.path.join(a.dir, folder), exist_ok=True)
        for i in range(count):
            size = rng.randint(low, high)
            start = rng.randrange(len(text) - size)
            with open(os.path.join(a.dir, folder, "f%06d.txt" % i), "wb") as f:
                f.write(text[start:start + size])


if __name__ == "__main__":
    main()
