// Frame-building costs: stuffing a full data block, escaping an application
// frame, and the CRC-16. Prints bytes/s of input per operation.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "frame/frame_codec.h"
#include "protocol/loader_commands.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t n) {
  std::mt19937 rng(7);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

void RunBuildDataFrame(benchmark::State& state, const std::vector<uint8_t>& block) {
  uint8_t frame[DATA_FRAME_MAX];
  int wire = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(block.data());
    wire = BuildDataFrame(block.data(), IMAGE_BLOCK_SIZE, frame);
    benchmark::DoNotOptimize(frame);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * IMAGE_BLOCK_SIZE);
  state.counters["wire_bytes"] = wire;
}

void BM_BuildDataFrame_Random750(benchmark::State& state) {
  RunBuildDataFrame(state, RandomBytes(IMAGE_BLOCK_SIZE));
}
BENCHMARK(BM_BuildDataFrame_Random750);

void BM_BuildDataFrame_AllFE750(benchmark::State& state) {
  RunBuildDataFrame(state, std::vector<uint8_t>(IMAGE_BLOCK_SIZE, FRAME_START));
}
BENCHMARK(BM_BuildDataFrame_AllFE750);

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

}  // namespace
