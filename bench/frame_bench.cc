// Frame-building costs: stuffing data frames over streams of distinct image
// blocks (as a transfer meets them: one repeated block would let the branch
// predictor learn it), escaping an application frame, the CRC-16, and ways
// of reading the image file in blocks. Prints bytes/s of input per operation.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "frame/frame_codec.h"
#include "protocol/loader_commands.h"

namespace {

// Streams of this many bytes hold thousands of distinct blocks; their
// blocks come from memory a cache level down, as a file read's do.
constexpr size_t kStreamBytes = 4u << 20;
constexpr size_t kStreamBlocks = kStreamBytes / IMAGE_BLOCK_SIZE;

std::vector<uint8_t> RandomBytes(size_t n) {
  std::mt19937 rng(7);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// A firmware image as flash images come: 1 MiB of code, then erased-flash
// padding (0xFF) to the end. The code is 32-bit words: mostly instructions
// (condition "always", top nibble 0xE), some literals, of which a few are
// -1 or small negative numbers (0xFFFFFFxx).
std::vector<uint8_t> PaddedFirmware(size_t n) {
  std::mt19937 rng(3);
  std::vector<uint8_t> bytes(n, 0xFF);
  for (size_t at = 0; at + 4 <= n && at < (1u << 20); at += 4) {
    uint32_t word = static_cast<uint32_t>(rng());
    const uint32_t kind = rng() % 16;
    if (kind < 11) {
      word = 0xE0000000u | (word & 0x0FFFFFFFu);  // instruction
    } else if (kind == 11) {
      word = 0xFFFFFFFFu;
    } else if (kind == 12) {
      word = 0xFFFFFF00u | (word & 0xFFu);
    } else if (kind == 13) {
      word &= 0xFFu;  // small literal
    }
    std::memcpy(bytes.data() + at, &word, 4);  // stored as the target does: low byte first
  }
  return bytes;
}

// Builds one data frame per block of stream, block after block, the way a
// transfer does; reports bytes/s of image data and ns per frame.
void RunStuffStream(benchmark::State& state, const std::vector<uint8_t>& stream) {
  uint8_t frame[DATA_FRAME_MAX];
  size_t block = 0;
  long long wire = 0;
  for (auto _ : state) {
    const uint8_t* in = stream.data() + block * IMAGE_BLOCK_SIZE;
    benchmark::DoNotOptimize(in);
    wire += BuildDataFrame(in, IMAGE_BLOCK_SIZE, frame);
    benchmark::DoNotOptimize(frame);
    benchmark::ClobberMemory();
    if (++block == kStreamBlocks) block = 0;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * IMAGE_BLOCK_SIZE);
  state.counters["wire_per_frame"] =
      static_cast<double>(wire) / static_cast<double>(state.iterations());
}

void BM_StuffStream_Random(benchmark::State& state) {
  static const std::vector<uint8_t> stream = RandomBytes(kStreamBytes);
  RunStuffStream(state, stream);
}
BENCHMARK(BM_StuffStream_Random);

void BM_StuffStream_PaddedFirmware(benchmark::State& state) {
  static const std::vector<uint8_t> stream = PaddedFirmware(kStreamBytes);
  RunStuffStream(state, stream);
}
BENCHMARK(BM_StuffStream_PaddedFirmware);

void BM_StuffStream_AllFE(benchmark::State& state) {
  static const std::vector<uint8_t> stream(kStreamBytes, FRAME_START);
  RunStuffStream(state, stream);
}
BENCHMARK(BM_StuffStream_AllFE);

// A 13-byte application frame with its CRC, including one byte that needs
// stuffing; it is copied back before each escape since EscapeFrame works in
// place.
void BM_EscapeFrame13(benchmark::State& state) {
  uint8_t plain[13] = {FRAME_START, 0x01, 0x00, 0x0C, 0x10, 0xFD,     0x00,
                       0x00,        0x00, 0x00, 0x00, 0x00, FRAME_END};
  AppendCrc(plain, static_cast<int>(sizeof plain));
  uint8_t frame[2 * sizeof plain];
  int raw = 0;
  for (auto _ : state) {
    std::memcpy(frame, plain, sizeof plain);
    benchmark::ClobberMemory();
    raw = EscapeFrame(frame, static_cast<uint8_t>(sizeof plain));
    benchmark::DoNotOptimize(frame);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(sizeof plain));
  state.counters["wire_bytes"] = raw;
}
BENCHMARK(BM_EscapeFrame13);

void BM_ComputeCrc16(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<uint8_t> data = RandomBytes(static_cast<size_t>(n));
  for (auto _ : state) {
    benchmark::DoNotOptimize(data.data());
    benchmark::DoNotOptimize(ComputeCrc16(data.data(), n));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}
BENCHMARK(BM_ComputeCrc16)->Arg(9)->Arg(750);

// Reading the image in 750-byte blocks from a file in the page cache, started
// again at its end: through a FILE with a 64 KiB buffer (as the tool reads),
// with one read() per block straight into the block, and with one read() per
// 64 KiB whose blocks are used where they lie (no copy).
class ImageFile {
 public:
  ImageFile() {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir != nullptr ? dir : "/tmp") + "/tcpflash-bench-XXXXXX";
    const int fd = mkstemp(&path_[0]);
    if (fd < 0) std::abort();
    const std::vector<uint8_t> bytes = RandomBytes(kStreamBytes);
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
    close(fd);
  }
  ~ImageFile() { unlink(path_.c_str()); }
  const char* Path() const { return path_.c_str(); }

 private:
  std::string path_;
};

const ImageFile& File() {
  static const ImageFile file;
  return file;
}

void BM_ReadBlocks_Fread64k(benchmark::State& state) {
  FILE* f = std::fopen(File().Path(), "rb");
  static char buffer[1 << 16];
  std::setvbuf(f, buffer, _IOFBF, sizeof buffer);
  uint8_t block[IMAGE_BLOCK_SIZE];
  for (auto _ : state) {
    if (std::fread(block, 1, sizeof block, f) < sizeof block) std::rewind(f);
    benchmark::DoNotOptimize(block);
    benchmark::ClobberMemory();
  }
  std::fclose(f);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * IMAGE_BLOCK_SIZE);
}
BENCHMARK(BM_ReadBlocks_Fread64k);

void BM_ReadBlocks_Read750(benchmark::State& state) {
  const int fd = open(File().Path(), O_RDONLY);
  uint8_t block[IMAGE_BLOCK_SIZE];
  for (auto _ : state) {
    if (read(fd, block, sizeof block) < static_cast<ssize_t>(sizeof block)) lseek(fd, 0, SEEK_SET);
    benchmark::DoNotOptimize(block);
    benchmark::ClobberMemory();
  }
  close(fd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * IMAGE_BLOCK_SIZE);
}
BENCHMARK(BM_ReadBlocks_Read750);

void BM_ReadBlocks_Read64kInPlace(benchmark::State& state) {
  const int fd = open(File().Path(), O_RDONLY);
  constexpr size_t kChunk = 87 * IMAGE_BLOCK_SIZE;  // about 64 KiB, whole blocks
  static uint8_t chunk[kChunk];
  size_t have = 0;
  size_t at = 0;
  for (auto _ : state) {
    if (at + IMAGE_BLOCK_SIZE > have) {
      const ssize_t got = read(fd, chunk, kChunk);
      if (got < static_cast<ssize_t>(IMAGE_BLOCK_SIZE)) {
        lseek(fd, 0, SEEK_SET);
        have = static_cast<size_t>(read(fd, chunk, kChunk));
      } else {
        have = static_cast<size_t>(got);
      }
      at = 0;
    }
    const uint8_t* block = chunk + at;
    at += IMAGE_BLOCK_SIZE;
    benchmark::DoNotOptimize(block);
    benchmark::ClobberMemory();
  }
  close(fd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * IMAGE_BLOCK_SIZE);
}
BENCHMARK(BM_ReadBlocks_Read64kInPlace);

}  // namespace
