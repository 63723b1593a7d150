#!/usr/bin/env python3
"""Oracle of the storage tests: what Python's zipfile sees in an archive.

  zipentries.py ARCHIVE
prints "COUNT n", then one line per entry: name bytes (hex, as stored, cut at a zero
byte), uncompressed size, compressed size, CRC-32 (hex), local header offset; or
"ERROR text" when zipfile refuses the archive.
"""
import sys
import zipfile


def raw_name(info):
    encoding = "utf-8" if info.flag_bits & 0x800 else "cp437"
    return info.filename.encode(encoding)


def main(path):
    try:
        with zipfile.ZipFile(path) as archive:
            infos = archive.infolist()
    except Exception as error:  # every refusal counts the same here
        print("ERROR", type(error).__name__, error)
        return
    print("COUNT", len(infos))
    for info in infos:
        print(raw_name(info).hex(), info.file_size, info.compress_size,
              "%08x" % info.CRC, info.header_offset, sep="\t")


main(sys.argv[1])
