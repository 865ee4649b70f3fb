#!/usr/bin/python3
"""Writes the benchmark tree: about 5,000 files in nested folders, half text
(compressible) and half incompressible bytes, about 480 MB in all, so that the
deflated archive comes to about 300 MB."""
import os
import random
import sys

root = sys.argv[1]
files = int(sys.argv[2]) if len(sys.argv) > 2 else 5000
rnd = random.Random(2024)

words = [''.join(rnd.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rnd.randint(2, 11)))
         for _ in range(2000)]
pool = ' '.join(rnd.choice(words) for _ in range(400000)).encode()
pool_lines = pool.replace(b' a', b'\na')

for i in range(files):
    folder = os.path.join(root, 'pkg', 'm%02d' % (i % 25), 's%02d' % ((i // 25) % 10),
                          'd%d' % ((i // 250) % 4))
    os.makedirs(folder, exist_ok=True)
    if i % 2 == 0:
        size = rnd.randint(20_000, 180_000)
        start = rnd.randrange(0, len(pool_lines) - size)
        data = pool_lines[start:start + size]
        name = 'file%04d.txt' % i
    else:
        size = rnd.randint(10_000, 152_000)
        data = os.urandom(size)
        name = 'blob%04d.bin' % i
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)
