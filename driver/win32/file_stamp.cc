// The file stamp on Windows (the contract: driver/file_stamp.h): the open
// handle's basic information, in 100-nanosecond units.
#include "driver/file_stamp.h"

#include <io.h>
#include <windows.h>

int ReadFileStamp(FILE* stream, FileStamp* stamp) {
  const int descriptor = _fileno(stream);
  if (descriptor < 0) return -1;
  const intptr_t raw = _get_osfhandle(descriptor);
  if (raw == -1) return -1;
  const HANDLE handle = reinterpret_cast<HANDLE>(raw);
  FILE_BASIC_INFO basic{};
  LARGE_INTEGER size{};
  if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) == 0 ||
      GetFileSizeEx(handle, &size) == 0) {
    return -1;
  }
  stamp->size = size.QuadPart;
  stamp->modified = basic.LastWriteTime.QuadPart;
  stamp->changed = basic.ChangeTime.QuadPart;
  return 0;
}
