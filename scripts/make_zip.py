#!/usr/bin/env python3
"""make_zip.py OUT.zip DIR: packs the files of DIR (no sub-folders) into
OUT.zip the same way every time: names sorted, every entry dated
$SOURCE_DATE_EPOCH (no earlier than 1980, zip's first date), Windows-style
entries without owner or permission bits, names in UTF-8 (flagged as such, so
Windows unpacks お読みください.txt under its own name)."""
import os
import sys
import time
import zipfile


def main():
    out, folder = sys.argv[1], sys.argv[2]
    epoch = max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800)
    date = time.gmtime(epoch)[:6]
    names = sorted(os.listdir(folder))
    with zipfile.ZipFile(out, "w") as z:
        for name in names:
            info = zipfile.ZipInfo(name, date_time=date)
            info.create_system = 0  # MS-DOS: no Unix owner or mode
            info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE, as Windows itself writes
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(folder, name), "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)


if __name__ == "__main__":
    main()
