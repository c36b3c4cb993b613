#include "net/ipv4_address.h"

int ParseIpv4Address(const char* text, uint8_t* octets) {
  uint8_t parsed[4];
  const char* p = text;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *p++ != '.') return -1;
    if (*p < '0' || *p > '9') return -1;
    // A leading zero is the whole number, or the text is refused below.
    int value = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 4) {
      value = value * 10 + (*p++ - '0');
      ++digits;
    }
    if (digits > 3 || value > 255 || (digits > 1 && p[-digits] == '0')) return -1;
    parsed[part] = static_cast<uint8_t>(value);
  }
  if (*p != '\0') return -1;
  if (parsed[0] == 255 && parsed[1] == 255 && parsed[2] == 255 && parsed[3] == 255) return -1;
  for (int i = 0; i < 4; ++i) octets[i] = parsed[i];
  return 0;
}
