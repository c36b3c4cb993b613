// The file stamp on POSIX (the contract: driver/file_stamp.h): fstat, with
// nanoseconds.
#include "driver/file_stamp.h"

#include <sys/stat.h>

namespace {

constexpr long long kNanosPerSecond = 1000000000LL;

long long Nanoseconds(const timespec& t) {
  return static_cast<long long>(t.tv_sec) * kNanosPerSecond + t.tv_nsec;
}

}  // namespace

int ReadFileStamp(FILE* stream, FileStamp* stamp) {
  struct stat info {};
  const int descriptor = fileno(stream);
  if (descriptor < 0 || fstat(descriptor, &info) != 0) return -1;
  stamp->size = static_cast<long long>(info.st_size);
#if defined(__APPLE__)
  stamp->modified = Nanoseconds(info.st_mtimespec);
  stamp->changed = Nanoseconds(info.st_ctimespec);
#else
  stamp->modified = Nanoseconds(info.st_mtim);
  stamp->changed = Nanoseconds(info.st_ctim);
#endif
  return 0;
}
