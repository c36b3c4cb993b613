// JSON strings for every machine-readable output of the tools: the event
// stream and tcpflash-many's report.
#ifndef TCPFLASH_DRIVER_JSON_STRING_H_
#define TCPFLASH_DRIVER_JSON_STRING_H_

#include <cstddef>
#include <cstdio>

// Writes text[0,n) to out as a JSON string, quotes included. Any byte may
// occur, NUL too: '"' and '\' are escaped, bytes below 0x20 and 0x7F as
// \uXXXX (\n, \r, \t by name), and bytes 0x80-0xFF as \u0080-\u00ff, their
// Latin-1 code points, so that the output is valid UTF-8 whatever a board
// sends or a path holds. Reads only text[0,n).
void WriteJsonString(FILE* out, const char* text, size_t n);

// The same for the zero-terminated text.
void WriteJsonString(FILE* out, const char* text);

#endif  // TCPFLASH_DRIVER_JSON_STRING_H_
