#include "driver/sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/testutil.h"

namespace {

std::string HexOf(const std::string& message, size_t piece) {
  Sha256 hash;
  const auto* bytes = reinterpret_cast<const uint8_t*>(message.data());
  for (size_t at = 0; at < message.size(); at += piece) {
    hash.Update(bytes + at, std::min(piece, message.size() - at));
  }
  uint8_t digest[SHA256_DIGEST_SIZE];
  hash.Finish(digest);
  char hex[SHA256_HEX_SIZE];
  Sha256Hex(digest, hex);
  return hex;
}

TEST(Sha256Test, PublishedVectorsInAnyPieces) {
  const struct {
    std::string message;
    const char* digest;
  } kCases[] = {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      // Two blocks: the padding no longer fits behind 56 bytes.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : kCases) {
    for (size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{1000}}) {
      SCOPED_TRACE(testing::Message() << c.message.size() << " bytes in pieces of " << piece);
      EXPECT_EQ(HexOf(c.message, piece), c.digest);
    }
  }
}

TEST(Sha256Test, EveryLengthAroundTheBlockEdgesMatchesOnePiece) {
  // Lengths 55, 56 and 64 decide where the length field goes.
  for (size_t len = 0; len <= 130; ++len) {
    std::string message(len, '\0');
    for (size_t i = 0; i < len; ++i) message[i] = static_cast<char>(i * 7 + len);
    EXPECT_EQ(HexOf(message, 1), HexOf(message, 1 << 20)) << len;
  }
  EXPECT_EQ(HexOf(std::string(55, 'a'), 55),
            "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
  EXPECT_EQ(HexOf(std::string(56, 'a'), 56),
            "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
}

TEST(Sha256Test, StreamFromItsPosition) {
  FILE* file = TempFileWith(std::string("xxabc"));
  ASSERT_NE(file, nullptr);
  std::fseek(file, 2, SEEK_SET);
  char hex[SHA256_HEX_SIZE];
  long long size = -1;
  ASSERT_EQ(Sha256OfStream(file, hex, &size), 0);
  EXPECT_STREQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(size, 3);
  std::fclose(file);
}

}  // namespace
