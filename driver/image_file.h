// The image file the tool flashes.
#ifndef TCPFLASH_DRIVER_IMAGE_FILE_H_
#define TCPFLASH_DRIVER_IMAGE_FILE_H_

#include <cstdio>

// Opens path for binary reading when it names a regular file, and sets *size
// to the size it has now; the transfer later insists on exactly that size.
// Returns the open stream, or null (with *size unchanged) when path is
// missing, unreadable, or a directory, FIFO, device or anything else that is
// not a regular file: those could block, never end or hand over a torn image.
FILE* OpenImage(const char* path, long long* size);

#endif  // TCPFLASH_DRIVER_IMAGE_FILE_H_
