// The one reading of a dotted IPv4 address text, shared by tcpflash and
// tcpflash-many: whatever one accepts names the same board in the other.
#ifndef TCPFLASH_NET_IPV4_ADDRESS_H_
#define TCPFLASH_NET_IPV4_ADDRESS_H_

#include <cstdint>

// Reads the zero-terminated text as four decimal numbers 0-255 joined by
// dots, each without leading zeros ("0" itself is one), and nothing else:
// no spaces, signs, octal or hexadecimal forms and no short forms such as
// "127.1". Those forms are what the C library's parser also takes, and they
// quietly name other hosts ("010" is 8 there). 255.255.255.255 is refused as
// well: the limited broadcast is no board, and the C library gave it the
// value of its error. Writes the address to octets[0,4), first number first
// (network byte order), only on success. Returns 0, or -1 for a text that
// is no such address.
int ParseIpv4Address(const char* text, uint8_t* octets);

#endif  // TCPFLASH_NET_IPV4_ADDRESS_H_
