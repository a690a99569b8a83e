#!/usr/bin/env python3
"""Writes a package again in a form that depends on what it holds alone.

Usage: repack.py PACKAGE FOLDER [TOP]

Every file below FOLDER goes in, under TOP/ when given, in sorted order, owned
by uid and gid 0 with no user or group name, with mode 0755 if it is executable
and 0644 if not, and stamped with SOURCE_DATE_EPOCH (or its own time when that
is unset). PACKAGE's name picks the kind: .zip or .tar.gz.
"""
import gzip
import os
import stat
import sys
import tarfile
import time
import zipfile


def main(package, folder, top=""):
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    files = []
    for where, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(where, name)
            inside = os.path.relpath(path, folder).replace(os.sep, "/")
            files.append((f"{top}/{inside}" if top else inside, path))
    files.sort()

    def details(path):
        status = os.stat(path)
        mode = 0o755 if status.st_mode & stat.S_IXUSR else 0o644
        return mode, int(epoch) if epoch else int(status.st_mtime)

    if package.endswith(".zip"):
        with zipfile.ZipFile(package, "w") as archive:
            for name, path in files:
                mode, stamp = details(path)
                # Zips keep a local time without a zone; UTC is the one taken.
                info = zipfile.ZipInfo(name, time.gmtime(max(stamp, 315532800))[:6])
                info.create_system = 3  # Unix, so that the mode is kept
                info.external_attr = (stat.S_IFREG | mode) << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as data:
                    archive.writestr(info, data.read(), compresslevel=9)
    elif package.endswith(".tar.gz"):
        with open(package, "wb") as raw, gzip.GzipFile(
            filename="", mode="wb", fileobj=raw, mtime=0, compresslevel=9
        ) as packed, tarfile.open(fileobj=packed, mode="w", format=tarfile.USTAR_FORMAT) as archive:
            for name, path in files:
                info = tarfile.TarInfo(name)
                info.mode, info.mtime = details(path)
                info.size = os.path.getsize(path)
                with open(path, "rb") as data:
                    archive.addfile(info, data)
    else:
        sys.exit(f"repack.py: cannot tell the kind of {package}")


if __name__ == "__main__":
    main(*sys.argv[1:])
