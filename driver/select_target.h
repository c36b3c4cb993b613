// Chooses the device's address and port from the command line or the prompt.
#ifndef TCPFLASH_DRIVER_SELECT_TARGET_H_
#define TCPFLASH_DRIVER_SELECT_TARGET_H_

#include <cstdio>

constexpr int DEFAULT_PORT = 6666;

// The address text holds 39 characters; what reaches the endpoint must also
// fit its 20-character field, so longer texts are refused here.
constexpr int ADDRESS_TEXT_SIZE = 40;

// Takes the address and port from argv when argc is 2 or 3 (program name
// included), else prompts with "IP Adresse: " on stdout and reads words from
// input until one has 1 to 3 or at least 7 characters. address must hold
// ADDRESS_TEXT_SIZE bytes. The address text is taken as it stands (the
// endpoint refuses what is no address); the port must pass ParsePort.
// Returns 0 with address and port set; SELECT_REFUSED after a message when
// an argument is refused (the address is too long, the port is no port);
// SELECT_NO_INPUT after a message when input ended first.
constexpr int SELECT_REFUSED = 1;
constexpr int SELECT_NO_INPUT = 2;
int SelectTarget(int argc, char* const* argv, FILE* input, char* address, int* port);

// Reads the zero-terminated text as a TCP port: decimal digits and nothing
// else (no sign, no spaces), worth 1 to 65535. Returns the port, or -1. The
// one rule of tcpflash and tcpflash-many: a port the tool would not take is
// no board of tcpflash-many either.
int ParsePort(const char* text);

// Completes an address of at most 3 characters to "192.168.14.<address>" in
// place; longer ones stay as they are. address must hold ADDRESS_TEXT_SIZE
// bytes and at most ADDRESS_TEXT_SIZE-1 characters.
void CompleteAddress(char* address);

#endif  // TCPFLASH_DRIVER_SELECT_TARGET_H_
