// Prints how fast the simulator decodes data frames, alone and behind a
// loopback connection. Not a test: it only reports figures.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "frame/frame_stream_decoder.h"
#include "protocol/device_peer.h"
#include "protocol/loader_commands.h"
#include "sim/device_sim.h"

namespace {

struct CountingSink : FrameSink {
  long long frames = 0;
  long long bytes = 0;
  bool OnFrame(const uint8_t* /*content*/, int n) override {
    ++frames;
    bytes += n;
    return true;
  }
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A stream of full data frames over random image bytes.
std::vector<uint8_t> DataFrames(size_t imageBytes) {
  std::mt19937 rng(1);
  std::vector<uint8_t> stream;
  uint8_t block[IMAGE_BLOCK_SIZE];
  uint8_t frame[DATA_FRAME_MAX];
  for (size_t at = 0; at < imageBytes; at += IMAGE_BLOCK_SIZE) {
    for (uint8_t& b : block) b = static_cast<uint8_t>(rng());
    const int n = BuildDataFrame(block, IMAGE_BLOCK_SIZE, frame);
    stream.insert(stream.end(), frame, frame + n);
  }
  return stream;
}

void BenchDecoder(const std::vector<uint8_t>& stream) {
  constexpr int kRounds = 10;
  constexpr size_t kBlock = 1 << 16;
  static uint8_t storage[REQUEST_CONTENT_MAX];
  FrameStreamDecoder decoder(storage, REQUEST_CONTENT_MAX);
  CountingSink sink;
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < kRounds; ++round) {
    for (size_t at = 0; at < stream.size(); at += kBlock) {
      const size_t n = std::min(kBlock, stream.size() - at);
      decoder.Feed(stream.data() + at, static_cast<int>(n), sink);
    }
  }
  const double seconds = SecondsSince(start);
  std::printf("decoder: %.0f MB/s of wire bytes (%lld frames in %.3f s)\n",
              static_cast<double>(stream.size()) * kRounds / seconds / 1e6, sink.frames, seconds);
}

// Sends the stream one frame per Send, as the tool does, then the close
// command; returns the seconds taken, or a negative value when no connection.
double SendAll(int port, const std::vector<uint8_t>& stream) {
  TcpEndpoint client;
  client.SetTarget("", "127.0.0.1", port);
  if (client.Connect() != 0) return -1;
  const auto start = std::chrono::steady_clock::now();
  size_t at = 0;
  while (at < stream.size()) {
    size_t end = at + 1;
    while (stream[end] != 0xFF) ++end;
    client.Send(stream.data() + at, static_cast<int>(end + 1 - at));
    at = end + 1;
  }
  SendLoaderCommand(client, LOADER_CLOSE);
  // The simulator has taken everything once it hangs up behind our close.
  client.Close();
  return SecondsSince(start);
}

void BenchAbsorb(const std::vector<uint8_t>& stream, size_t imageBytes) {
  SimOptions options;
  options.mode = 2;
  options.once = true;
  options.quiet = true;
  options.log = nullptr;
  options.timeoutMs = 60000;
  auto sim = std::make_unique<DeviceSim>(options);
  if (sim->Start() != 0) {
    std::printf("absorb: cannot listen\n");
    return;
  }
  int status = -1;
  std::thread server([&] { status = sim->Run(); });
  const auto start = std::chrono::steady_clock::now();
  if (SendAll(sim->Port(), stream) < 0) sim->Stop();
  server.join();
  const double seconds = SecondsSince(start);
  std::printf("absorb: %.0f MB/s of image bytes over loopback (%lld bytes in %.3f s, status %d)\n",
              static_cast<double>(imageBytes) / seconds / 1e6, sim->imageBytes(), seconds, status);
}

}  // namespace

// With --port N it only feeds a simulator already running on 127.0.0.1:N
// (started with --mode 2 --once --quiet), to time a simulator built for
// another platform.
int main(int argc, char** argv) {
  constexpr size_t kImageBytes = 750 * 100000;  // 75 MB
  const std::vector<uint8_t> stream = DataFrames(kImageBytes);
  if (argc == 3 && std::strcmp(argv[1], "--port") == 0) {
    const double seconds = SendAll(std::atoi(argv[2]), stream);
    if (seconds < 0) return 1;
    std::printf("sent: %.0f MB/s of image bytes (%.3f s)\n",
                static_cast<double>(kImageBytes) / seconds / 1e6, seconds);
    return 0;
  }
  BenchDecoder(stream);
  BenchAbsorb(stream, kImageBytes);
  return 0;
}
