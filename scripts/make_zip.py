#!/usr/bin/env python3
"""make_zip.py OUT.zip DIR: packs the files of DIR (no sub-folders) into
OUT.zip the same way every time: names sorted, every entry dated
$SOURCE_DATE_EPOCH (no earlier than 1980, zip's first date), fixed
permissions (0644, programs 0755), names in UTF-8 and flagged as such, so
Windows and unzip both unpack お読みください.txt under its own name. (Entries
marked as made on MS-DOS would have unzip read their names as code page 437.)"""
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
            mode = 0o755 if name.endswith(".exe") else 0o644
            info.create_system = 3  # Unix: the mode below, no owner
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(folder, name), "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)


if __name__ == "__main__":
    main()
