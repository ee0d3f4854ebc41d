#!/usr/bin/python3
"""A file system for the tests that shows a folder as it is, read-only,
but takes DELAY seconds for every listing of a folder, as a NAS or a USB
disk waking up does: slow_listing_fs.py FOLDER MOUNTPOINT DELAY"""
import errno
import os
import sys
import time

try:  # Debian's python3-fusepy names the module fusepy
    from fusepy import FUSE, FuseOSError, Operations
except ImportError:
    from fuse import FUSE, FuseOSError, Operations


class SlowListing(Operations):
    def __init__(self, root, delay):
        self.root, self.delay = root, delay

    def _path(self, path):
        return os.path.join(self.root, path.lstrip("/"))

    def getattr(self, path, fh=None):
        try:
            st = os.lstat(self._path(path))
        except OSError as e:
            raise FuseOSError(e.errno)
        keys = ("st_mode", "st_size", "st_nlink", "st_uid", "st_gid",
                "st_atime", "st_mtime", "st_ctime")
        return {k: getattr(st, k) for k in keys}

    def readdir(self, path, fh):
        time.sleep(self.delay)
        return [".", ".."] + os.listdir(self._path(path))

    def readlink(self, path):
        return os.readlink(self._path(path))

    def open(self, path, flags):
        if flags & (os.O_WRONLY | os.O_RDWR):
            raise FuseOSError(errno.EROFS)
        return os.open(self._path(path), flags)

    def read(self, path, size, offset, fh):
        os.lseek(fh, offset, os.SEEK_SET)
        return os.read(fh, size)

    def release(self, path, fh):
        os.close(fh)


if __name__ == "__main__":
    FUSE(SlowListing(sys.argv[1], float(sys.argv[3])), sys.argv[2],
         foreground=True, ro=True, allow_other=True, nothreads=False)
