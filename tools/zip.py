#!/usr/bin/env python3
"""Writes a zip of the given files, the same bytes for the same files
wherever and whenever it runs: entries in the order given, each timed at
SOURCE_DATE_EPOCH (else at its file's own time), mode 755 for an executable
and 644 otherwise whatever the umask made of it, and no extra fields (no
access times, no owners).

    zip.py OUT FILE...      (names in the zip as given, relative)
"""
import os
import sys
import time
import zipfile


def main(out, files):
    epoch = os.environ.get('SOURCE_DATE_EPOCH')
    with zipfile.ZipFile(out + '.new', 'w', zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for name in files:
            stamp = int(epoch) if epoch else int(os.stat(name).st_mtime)
            info = zipfile.ZipInfo(name, time.gmtime(max(stamp, 315532800))[:6])  # zip's dates start in 1980
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix, so that the mode below is read
            info.external_attr = (0o100755 if os.access(name, os.X_OK) else 0o100644) << 16
            with open(name, 'rb') as f:
                z.writestr(info, f.read())
    os.replace(out + '.new', out)


if __name__ == '__main__':
    if len(sys.argv) < 3:
        sys.exit('usage: zip.py OUT FILE...')
    main(sys.argv[1], sys.argv[2:])
