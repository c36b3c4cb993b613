// The loopback limit for the image transfer: reads an image file and builds
// all of its data frames in memory first, then connects to a device stand-in
// on 127.0.0.1 and plays the tool's dialogue from loader mode (mode query,
// version, reset-flashdata, the data frames one Send each, set-offset,
// start-flash, state polls, reset, close) with the tool's own command
// functions. Only the data phase differs from the tool: nothing is read or
// stuffed while it runs. The device side times the data phase.
//
// usage: tcpflash_limit_client PORT IMAGE_FILE
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "net/tcp_endpoint.h"
#include "protocol/app_commands.h"
#include "protocol/loader_commands.h"

namespace {

struct Frames {
  std::vector<uint8_t> bytes;
  std::vector<size_t> ends;  // end offset of each frame in bytes
};

// The data frames of the file in the order the tool sends them, closed by an
// empty frame when the size is a multiple of the block. Returns -1 when the
// file cannot be read.
int BuildFrames(const char* path, Frames* frames, long long* imageBytes) {
  FILE* image = std::fopen(path, "rb");
  if (image == nullptr) return -1;
  uint8_t block[IMAGE_BLOCK_SIZE];
  uint8_t frame[DATA_FRAME_MAX];
  *imageBytes = 0;
  for (;;) {
    const size_t got = std::fread(block, 1, sizeof block, image);
    const int n = BuildDataFrame(block, static_cast<int>(got), frame);
    frames->bytes.insert(frames->bytes.end(), frame, frame + n);
    frames->ends.push_back(frames->bytes.size());
    *imageBytes += static_cast<long long>(got);
    if (got < sizeof block) break;
  }
  const bool failed = std::ferror(image) != 0;
  std::fclose(image);
  return failed ? -1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tcpflash_limit_client PORT IMAGE_FILE\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  Frames frames;
  long long imageBytes = 0;
  if (BuildFrames(argv[2], &frames, &imageBytes) != 0) {
    std::fprintf(stderr, "cannot read %s\n", argv[2]);
    return 1;
  }
  TcpEndpoint client;
  if (client.startupError != 0 || client.SetTarget("", "127.0.0.1", port) != 0 ||
      client.Connect() != 0) {
    std::fprintf(stderr, "cannot connect to 127.0.0.1:%d\n", port);
    return 1;
  }
  if (QueryDeviceMode(client) < MODE_UPDATELOADER) {
    std::fprintf(stderr, "no device in loader mode\n");
    return 1;
  }
  RequestLoaderVersion(client);
  if (SendLoaderCommand(client, LOADER_RESET_FLASHDATA) != 0) return 1;
  size_t at = 0;
  for (const size_t end : frames.ends) {
    if (client.Send(frames.bytes.data() + at, static_cast<int>(end - at)) != 0) {
      std::fprintf(stderr, "send failed\n");
      return 1;
    }
    at = end;
  }
  if (SendLoaderCommand(client, LOADER_SET_OFFSET) != 0) return 1;
  if (SendLoaderCommand(client, LOADER_START_FLASH) != 0) return 1;
  if (WaitUntilReady(client) != 0) return 1;
  ResetDevice(client);
  if (SendLoaderCommand(client, LOADER_CLOSE) != 0) return 1;
  client.Close();
  std::printf("sent %lld image bytes in %zu data frames (%zu wire bytes)\n", imageBytes,
              frames.ends.size(), frames.bytes.size());
  return 0;
}
