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

buf = io.BytesIO()
with zipfile.ZipFile(buf, 'w') as z:
    with z.open('zip64.txt', 'w', force_zip64=True) as f:
        f.write(text)
    z.writestr('Gr\u00fc\u00dfe.txt', b'utf-8 flag')
with open(os.path.join(out, 'zip64.zip'), 'wb') as f:
    f.write(buf.getvalue())


def derive(name, source, change):
    """Writes a copy of the seed `source` with bytes changed."""
    with open(os.path.join(out, source), 'rb') as f:
        data = bytearray(f.read())
    change(data)
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)


def move_last_local(d):  # the directory points one byte past the local header
    cd = d.rfind(b'PK\x01\x02')
    d[cd + 42] += 1


def rename_first_local(d):
    d[30] ^= 0x20


def disks(this, central):  # one part of a split (or multi-disk) archive
    def change(d):
        end = d.rfind(b'PK\x05\x06')
        d[end + 4:end + 8] = this.to_bytes(2, 'little') + central.to_bytes(2, 'little')
    return change


def code_page_name(d):  # a name in code page 437 / Shift-JIS bytes, no UTF-8 flag
    for at in (d.find(b'a.txt'), d.rfind(b'a.txt')):
        d[at:at + 2] = b'\x95\x5c'


derive('local-moved.zip', 'deflated.zip', move_last_local)
derive('local-renamed.zip', 'deflated.zip', rename_first_local)
derive('split-part.zip', 'deflated.zip', disks(2, 2))
derive('multi-disk.zip', 'deflated.zip', disks(1, 0))
derive('code-page-name.zip', 'deflated.zip', code_page_name)
