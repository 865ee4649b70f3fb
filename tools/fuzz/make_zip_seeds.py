#!/usr/bin/python3
"""Writes a small seed corpus for the zip reader fuzzer into the folder given."""
import io
import os
import sys
import zipfile

out = sys.argv[1]
os.makedirs(out, exist_ok=True)


def archive(name, entries, method=zipfile.ZIP_DEFLATED, comment=b'', stream=False):
    buf = io.BytesIO()

    class Unseekable(io.RawIOBase):  # makes zipfile write data descriptors
        def writable(self):
            return True

        def write(self, b):
            return buf.write(b)

    target = Unseekable() if stream else buf
    with zipfile.ZipFile(target, 'w', method) as z:
        z.comment = comment
        for entry in entries:
            info = zipfile.ZipInfo(entry[0])
            info.compress_type = method
            if len(entry) > 2:
                info.create_system = 3
                info.external_attr = entry[2] << 16
            z.writestr(info, entry[1])
    with open(os.path.join(out, name), 'wb') as f:
        f.write(buf.getvalue())


text = b'line of text\n' * 40
archive('stored.zip', [('a.txt', text), ('dir/b.bin', bytes(range(256)))], zipfile.ZIP_STORED)
archive('deflated.zip', [('a.txt', text), ('dir/sub/b.txt', b'hello')])
archive('comment.zip', [('c.txt', b'x' * 50)], comment=b'note PK\x05\x06 inside')
archive('folders.zip', [('dir/', b''), ('dir/empty', b''), ('dir/f', b'f')])
archive('modes.zip', [('bin/tool', b'#!/bin/sh\n', 0o104755), ('r', b'r', 0o100600)])
archive('streamed.zip', [('s.txt', text)], stream=True)
archive('names.zip', [('../up', b'u'), ('/abs', b'a'), ('C:drive', b'c'), ('a\\b\\c', b'b')])
archive('empty.zip', [])
