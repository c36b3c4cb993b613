// SHA-256: the proof that a board got exactly the image that was chosen,
// checked by tcpflash and recorded by tcpflash-many.
#ifndef TCPFLASH_DRIVER_SHA256_H_
#define TCPFLASH_DRIVER_SHA256_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int SHA256_DIGEST_SIZE = 32;
// 64 hex digits and the terminating zero.
constexpr int SHA256_HEX_SIZE = 2 * SHA256_DIGEST_SIZE + 1;

class Sha256 {
 public:
  Sha256();
  // Adds data[0,size) to the message; data may be null when size is 0.
  void Update(const uint8_t* data, size_t size);
  // Pads the message and writes the digest to digest[0,SHA256_DIGEST_SIZE).
  // The object must not be updated afterwards.
  void Finish(uint8_t* digest);

 private:
  void Compress(const uint8_t* block);

  uint32_t state_[8];
  uint8_t block_[64];
  size_t blockUsed_ = 0;
  uint64_t totalBytes_ = 0;
};

// Writes digest[0,SHA256_DIGEST_SIZE) as lower-case hex to
// hex[0,SHA256_HEX_SIZE), zero-terminated.
void Sha256Hex(const uint8_t* digest, char* hex);

// Reads file from its current position to its end and writes the hex digest
// of what it read to hex[0,SHA256_HEX_SIZE) and the byte count to *size.
// Returns 0, or -1 on a read error (hex and size then undefined).
int Sha256OfStream(FILE* file, char* hex, long long* size);

#endif  // TCPFLASH_DRIVER_SHA256_H_
