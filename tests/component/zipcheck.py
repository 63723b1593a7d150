#!/usr/bin/env python3
"""Oracle of the component tests: reads an archive with Python's zipfile.

  zipcheck.py test ARCHIVE [PASSWORD]    every entry's CRC checked (testzip)
  zipcheck.py digest ARCHIVE [PASSWORD]  one line per entry: name TAB "crc32 size"
  zipcheck.py make KIND ARCHIVE FILE...  writes an archive as Python does
        KIND: seekable (plain file) or stream (unseekable output: data descriptors)
"""
import io
import os
import sys
import zipfile
import zlib


class Unseekable(io.RawIOBase):
    """A write-only sink that cannot seek, like a pipe."""

    def __init__(self, target):
        self.target = target

    def writable(self):
        return True

    def write(self, b):
        self.target.write(b)
        return len(b)

    def seekable(self):
        return False

    def tell(self):
        raise OSError("unseekable")


def open_archive(path, password):
    z = zipfile.ZipFile(path)
    if password:
        z.setpassword(password.encode("latin-1"))
    return z


def main(argv):
    cmd = argv[1]
    if cmd == "test":
        with open_archive(argv[2], argv[3] if len(argv) > 3 else "") as z:
            bad = z.testzip()
            if bad is not None:
                print("bad entry:", bad)
                return 1
        return 0
    if cmd == "digest":
        with open_archive(argv[2], argv[3] if len(argv) > 3 else "") as z:
            for info in z.infolist():
                try:
                    data = z.read(info)
                except Exception as e:  # a damaged or encrypted entry of a foreign archive
                    print("%s\tunreadable: %s" % (info.filename, type(e).__name__))
                    continue
                print("%s\t%08x %d" % (info.filename, zlib.crc32(data) & 0xFFFFFFFF, len(data)))
        return 0
    if cmd == "make":
        kind, archive, files = argv[2], argv[3], argv[4:]
        with open(archive, "wb") as f:
            sink = Unseekable(f) if kind == "stream" else f
            with zipfile.ZipFile(sink, "w", zipfile.ZIP_DEFLATED) as z:
                for name in files:
                    z.write(name, os.path.basename(name))
        return 0
    print("unknown command", cmd)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
