#!/usr/bin/env python3
"""chm_fixed_time.py FILE.chm: replaces the compile time that chmcmd writes
into a help file (the time of day in milliseconds, in the ITSF header and in
the #SYSTEM file's entry 10) by the time of day of $SOURCE_DATE_EPOCH, or
midnight without it, so that every build of a commit gives the same bytes."""
import os
import struct
import sys


def encint(data, pos):
    """Reads one of the format's variable-length integers."""
    value = 0
    while True:
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            return value, pos


def system_file(data):
    """Offset and length of /#SYSTEM (stored uncompressed, in section 0)."""
    dir_offset, = struct.unpack_from("<Q", data, 0x48)
    content_offset, = struct.unpack_from("<Q", data, 0x58)
    if data[dir_offset:dir_offset + 4] != b"ITSP":
        raise ValueError("no directory header")
    header_len, = struct.unpack_from("<I", data, dir_offset + 8)
    chunk_size, = struct.unpack_from("<I", data, dir_offset + 0x10)
    chunk_count, = struct.unpack_from("<I", data, dir_offset + 0x2C)
    for n in range(chunk_count):
        chunk = dir_offset + header_len + n * chunk_size
        if data[chunk:chunk + 4] != b"PMGL":
            continue
        free, = struct.unpack_from("<I", data, chunk + 4)
        pos, end = chunk + 0x14, chunk + chunk_size - free
        while pos < end:
            name_len, pos = encint(data, pos)
            name = data[pos:pos + name_len]
            pos += name_len
            section, pos = encint(data, pos)
            offset, pos = encint(data, pos)
            length, pos = encint(data, pos)
            if name == b"/#SYSTEM" and section == 0:
                return content_offset + offset, length
    raise ValueError("no /#SYSTEM file")


def main():
    path = sys.argv[1]
    data = bytearray(open(path, "rb").read())
    if data[:4] != b"ITSF" or struct.unpack_from("<I", data, 4)[0] != 3:
        sys.exit(f"{path}: not a version 3 help file")
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    stamp = (epoch % 86400) * 1000
    struct.pack_into(">I", data, 0x10, stamp)
    start, length = system_file(data)
    pos, end = start + 4, start + length  # after the #SYSTEM version word
    while pos + 4 <= end:
        code, size = struct.unpack_from("<HH", data, pos)
        if code == 10 and size == 4:
            struct.pack_into("<I", data, pos + 4, stamp)
        pos += 4 + size
    open(path, "wb").write(data)


if __name__ == "__main__":
    main()
