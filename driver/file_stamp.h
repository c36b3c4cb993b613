// What tells an open file that was rewritten in place from one that was not:
// its size and its modification and change times. One file per platform
// implements it (driver/posix/file_stamp.cc, driver/win32/file_stamp.cc);
// CMake picks the one.
#ifndef TCPFLASH_DRIVER_FILE_STAMP_H_
#define TCPFLASH_DRIVER_FILE_STAMP_H_

#include <cstdio>

struct FileStamp {
  long long size = -1;
  // In the platform's finest unit (nanoseconds where it has them).
  long long modified = 0;
  long long changed = 0;
};

// Reads the stamp of the file that stream has open: the open file itself,
// so a file that replaced it under its name (by a rename) does not count.
// Returns 0, or -1 when the platform cannot tell.
int ReadFileStamp(FILE* stream, FileStamp* stamp);

inline bool SameStamp(const FileStamp& a, const FileStamp& b) {
  return a.size == b.size && a.modified == b.modified && a.changed == b.changed;
}

#endif  // TCPFLASH_DRIVER_FILE_STAMP_H_
