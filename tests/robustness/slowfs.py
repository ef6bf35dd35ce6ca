#!/usr/bin/python3
"""A folder mounted through FUSE, as a USB stick formatted NTFS is (ntfs-3g): every call passes
to the folder beneath, and an fsync costs MS_PER_MIB milliseconds for each MiB written to its
file since the last one, as a slow stick's flush does. sync_file_range never reaches a FUSE file
system: only fsync flushes. Each fsync with bytes to flush appends "flush BYTES" to LOG.
    slowfs.py BENEATH MOUNTPOINT MS_PER_MIB LOG
Runs until the mount point is unmounted."""
import errno
import os
import sys
import time

from fusepy import FUSE, FuseOSError, Operations

STAT_FIELDS = ('st_atime', 'st_ctime', 'st_gid', 'st_mode', 'st_mtime', 'st_nlink', 'st_size',
               'st_uid')


class SlowFlush(Operations):
    def __init__(self, beneath, ms_per_mib, log):
        self.beneath, self.ms_per_mib, self.log = beneath, ms_per_mib, log
        self.unflushed = {}  # bytes written and not yet flushed, by open file

    def __call__(self, operation, *args):
        try:
            return super().__call__(operation, *args)
        except OSError as error:
            raise FuseOSError(error.errno or errno.EIO)

    def real(self, path):
        return self.beneath + path

    def getattr(self, path, fh=None):
        st = os.lstat(self.real(path))
        return {field: getattr(st, field) for field in STAT_FIELDS}

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self.real(path))

    def chmod(self, path, mode):
        os.chmod(self.real(path), mode)

    def chown(self, path, uid, gid):
        os.chown(self.real(path), uid, gid)

    def create(self, path, mode, fi=None):
        return os.open(self.real(path), os.O_RDWR | os.O_CREAT | os.O_EXCL, mode)

    def open(self, path, flags):
        return os.open(self.real(path), flags)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        written = os.pwrite(fh, data, offset)
        self.unflushed[fh] = self.unflushed.get(fh, 0) + written
        return written

    def truncate(self, path, length, fh=None):
        os.truncate(self.real(path), length)

    def fsync(self, path, datasync, fh):
        pending = self.unflushed.pop(fh, 0)
        if pending:
            with open(self.log, 'a') as log:
                log.write('flush %d\n' % pending)
            time.sleep(pending / (1 << 20) * self.ms_per_mib / 1000)
        os.fsync(fh)

    def release(self, path, fh):
        self.unflushed.pop(fh, None)
        os.close(fh)

    def rename(self, old, new):
        os.rename(self.real(old), self.real(new))

    def unlink(self, path):
        os.unlink(self.real(path))

    def utimens(self, path, times=None):
        os.utime(self.real(path), times)


if __name__ == '__main__':
    beneath, mountpoint, ms_per_mib, log = sys.argv[1:5]
    FUSE(SlowFlush(beneath, float(ms_per_mib), log), mountpoint, foreground=True)
