#include "protocol/loader_commands.h"

#include <thread>

#include "tests/support/bytes.h"
#include "tests/support/loopback.h"
#include "tests/support/replies.h"
#include "tests/support/testutil.h"

namespace {

using LoaderCommandsTest = LoopbackPeerTest;

TEST_F(LoaderCommandsTest, FixedFramesGoOutAsTheyStand) {
  const std::pair<uint8_t, Bytes> cases[] = {
      {LOADER_CLOSE, {0xFE, 0x00, 0x01, 0x01, 0xFF}},
      {LOADER_START_FLASH, {0xFE, 0x00, 0x01, 0x04, 0xFF}},
      {LOADER_RESET_FLASHDATA, {0xFE, 0x00, 0x01, 0x05, 0xFF}},
      {LOADER_DEVICE_STATE, {0xFE, 0x00, 0x01, 0x06, 0xFF}},
      {LOADER_DEVICE_RESET, {0xFE, 0x00, 0x01, 0x07, 0xFF}},
      {LOADER_SET_OFFSET, {0xFE, 0x00, 0x05, 0x08, 0x00, 0x10, 0x00, 0x00, 0xFF}},
      {LOADER_VERSION, {0xFE, 0x00, 0x01, 0x09, 0xFF}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SendLoaderCommand(tool, c.first), 0);
    EXPECT_EQ(Sent(), c.second);
  }
  EXPECT_EQ(SendLoaderCommand(tool, LOADER_DATA), -1) << "no fixed frame";
  tool.Close();
  EXPECT_EQ(SendLoaderCommand(tool, LOADER_CLOSE), -1);
}

TEST(DataFrameTest, LengthBytesAndStuffing) {
  uint8_t frame[DATA_FRAME_MAX];
  EXPECT_EQ(Bytes(frame, frame + BuildDataFrame(nullptr, 0, frame)),
            (Bytes{0xFE, 0x00, 0x01, 0x03, 0xFF}));

  const uint8_t special[] = {0xFD, 0xFE, 0xFF, 0xFC};
  EXPECT_EQ(Bytes(frame, frame + BuildDataFrame(special, 4, frame)),
            (Bytes{0xFE, 0x00, 0x05, 0x03, 0xFD, 0x00, 0xFD, 0x01, 0xFD, 0x02, 0xFC, 0xFF}));

  // Length 253 = 0x00FD: the low length byte is stuffed.
  Bytes block(252, 0x11);
  BuildDataFrame(block.data(), 252, frame);
  EXPECT_EQ(Bytes(frame, frame + 5), (Bytes{0xFE, 0x00, 0xFD, 0x00, 0x03}));

  Bytes worst(IMAGE_BLOCK_SIZE, 0xFE);
  ASSERT_EQ(BuildDataFrame(worst.data(), IMAGE_BLOCK_SIZE, frame), DATA_FRAME_MAX);
  EXPECT_EQ(Bytes(frame, frame + 4), (Bytes{0xFE, 0x02, 0xEF, 0x03}));
  for (int i = 0; i < IMAGE_BLOCK_SIZE; ++i) {
    ASSERT_EQ(frame[4 + 2 * i], 0xFD);
    ASSERT_EQ(frame[5 + 2 * i], 0x01);
  }
  EXPECT_EQ(frame[DATA_FRAME_MAX - 1], 0xFF);
}

// Writes image to a temporary file, transfers it as a file of size bytes
// (image.size() unless given), and returns the decoded data frames the device
// received.
std::vector<Bytes> Transfer(TcpEndpoint& tool, TcpEndpoint& device, const Bytes& image, int* result,
                            long long size = -1, TransferObserver* observer = nullptr) {
  FILE* file = TempFileWith(image);
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return {};
  if (size < 0) size = static_cast<long long>(image.size());
  Bytes stream;
  std::thread reader([&] { stream = ReceiveUntilQuiet(device, 2000); });
  *result = TransferImage(tool, file, size, observer);
  tool.Close();
  reader.join();
  std::fclose(file);
  return DecodeFrames(stream);
}

TEST_F(LoaderCommandsTest, ImageGoesOutWholeInBlocks) {
  const size_t kLarge = 300 * 1000 + 17;
  for (size_t size : {0, 1, 749, 750, 751, 1000, 1500, static_cast<int>(kLarge)}) {
    SCOPED_TRACE(size);
    const Bytes image = RandomImage(size);
    int result = -7;
    const std::vector<Bytes> frames = Transfer(tool, device, image, &result);
    EXPECT_EQ(result, 0);
    const size_t whole = size / IMAGE_BLOCK_SIZE;
    const size_t rest = size % IMAGE_BLOCK_SIZE;
    // A size that fills its last block is closed by an empty frame.
    ASSERT_EQ(frames.size(), whole + 1);
    Bytes received;
    for (size_t i = 0; i < frames.size(); ++i) {
      const Bytes& f = frames[i];
      const size_t payload = i < whole ? IMAGE_BLOCK_SIZE : rest;
      ASSERT_EQ(f.size(), payload + 3);
      EXPECT_EQ((f[0] << 8) | f[1], static_cast<int>(payload + 1));
      EXPECT_EQ(f[2], LOADER_DATA);
      received.insert(received.end(), f.begin() + 3, f.end());
    }
    EXPECT_TRUE(received == image);
    // A fresh connection for the next size.
    TearDown();
    SetUp();
  }
}

TEST_F(LoaderCommandsTest, TransferStopsAtTheFirstFailedSend) {
  FILE* file = TempFileWith(Bytes(3000, 0x42));
  ASSERT_NE(file, nullptr);
  tool.Close();
  EXPECT_EQ(TransferImage(tool, file, 3000), TRANSFER_NOT_SENT);
  EXPECT_EQ(std::ftell(file), IMAGE_BLOCK_SIZE) << "nothing read past the failed block";
  std::fclose(file);
}

TEST_F(LoaderCommandsTest, FileThatChangedSizeNeverCompletes) {
  // The file is read against the size it had when it was opened: one cut
  // short or grown since is torn, and its last frame must not go out.
  struct Case {
    size_t actual;
    long long opened;
    size_t framesSent;
  };
  const Case cases[] = {
      {1000, 1500, 1},  // cut: the second block comes up short
      {1500, 1499, 1},  // grew by one byte inside the last block
      {1500, 750, 1},   // grew by a block: the empty closing frame is held back
      {0, 10, 0},      {1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.opened);
    const Bytes image(c.actual, 0x5A);
    int result = -7;
    StartCapture();
    const std::vector<Bytes> frames = Transfer(tool, device, image, &result, c.opened);
    EXPECT_EQ(Printed(), "Image changed during the transfer\n");
    EXPECT_EQ(result, TRANSFER_CHANGED);
    EXPECT_EQ(frames.size(), c.framesSent);
    for (const Bytes& f : frames) EXPECT_EQ(f.size(), IMAGE_BLOCK_SIZE + 3u);
    TearDown();
    SetUp();
  }
}

TEST_F(LoaderCommandsTest, UnreadableImageEndsTheTransfer) {
  // A directory opens as a stream on POSIX, but reading it fails.
  FILE* directory = std::fopen(".", "rb");
  if (directory == nullptr) GTEST_SKIP() << "this platform cannot open a directory as a file";
  StartCapture();
  EXPECT_EQ(TransferImage(tool, directory, 1), TRANSFER_UNREADABLE);
  EXPECT_EQ(Printed(), "Image read error\n");
  EXPECT_EQ(Sent(), Bytes()) << "no frame at all";
  std::fclose(directory);
}

// Notes what a transfer reports; marks on standard output where it was told
// that a message comes.
struct RecordingObserver final : TransferObserver {
  void TransferAdvanced(long long sent) override { advances.push_back(sent); }
  void TransferWillPrint() override { std::printf("<erase>"); }
  bool ApproveFrame(const uint8_t* block, int n, bool last) override {
    approved.insert(approved.end(), block, block + n);
    lastSeen = last;
    return !(last && refuseLast);
  }
  std::vector<long long> advances;
  Bytes approved;
  bool lastSeen = false;
  bool refuseLast = false;
};

TEST_F(LoaderCommandsTest, ObserverHearsEveryFrameAndEveryMessage) {
  struct Case {
    size_t actual;
    long long opened;
    std::vector<long long> advances;
    std::string printed;
  };
  const Case cases[] = {
      {1600, 1600, {750, 1500, 1600}, ""},
      {1500, 1500, {750, 1500, 1500}, ""},  // the empty closing frame too
      {0, 0, {0}, ""},
      {1000, 1500, {750}, "<erase>Image changed during the transfer\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.opened);
    RecordingObserver observer;
    int result = -7;
    StartCapture();
    Transfer(tool, device, Bytes(c.actual, 0x33), &result, c.opened, &observer);
    EXPECT_EQ(Printed(), c.printed);
    EXPECT_EQ(observer.advances, c.advances);
    TearDown();
    SetUp();
  }
}

TEST_F(LoaderCommandsTest, ObserverSeesEveryByteAndCanHoldBackTheLastFrame) {
  for (const size_t size : {size_t{1600}, size_t{1500}, size_t{0}}) {
    for (const bool refuse : {false, true}) {
      SCOPED_TRACE(size);
      SCOPED_TRACE(refuse);
      const Bytes image = RandomImage(size);
      RecordingObserver observer;
      observer.refuseLast = refuse;
      int result = -7;
      StartCapture();
      const std::vector<Bytes> frames = Transfer(tool, device, image, &result, -1, &observer);
      EXPECT_TRUE(observer.approved == image) << "every byte is shown before it goes out";
      EXPECT_TRUE(observer.lastSeen);
      const size_t whole = size / IMAGE_BLOCK_SIZE + 1;
      if (refuse) {
        EXPECT_EQ(Printed(), "<erase>Image changed during the transfer\n");
        EXPECT_EQ(result, TRANSFER_CHANGED);
        EXPECT_EQ(frames.size(), whole - 1) << "the frame that ends the image stays back";
      } else {
        EXPECT_EQ(Printed(), "");
        EXPECT_EQ(result, 0);
        EXPECT_EQ(frames.size(), whole);
      }
      TearDown();
      SetUp();
    }
  }
}

TEST_F(LoaderCommandsTest, LoaderVersion) {
  struct Case {
    Bytes reply;
    int result;
    std::string printed;
  };
  const Case cases[] = {
      {LoaderVersionReply("BL 2.10"), 0, "\r\nUpdateloader Version received: BL 2.10"},
      {{0xFE, 0x00, 0x01, 0x09, 0xFF}, 0, "\r\nUpdateloader Version received: "},
      {{0xFE, 0xFF}, -1, ""},
      {{0xFE, 0x00, 0xFD, 0x09, 0xFF}, -1, ""},
      // Terminal control bytes (C0, DEL, C1) show as '.'; printable Latin-1 stays.
      {LoaderVersionReply("\x1b[2J\rDONE\x7f\x80\x9b\x9f\xa0\xe9~"), 0,
       "\r\nUpdateloader Version received: .[2J.DONE....\xa0\xe9~"},
  };
  for (const Case& c : cases) {
    Queue(c.reply);
    StartCapture();
    VersionText kept;
    kept.length = -5;
    EXPECT_EQ(RequestLoaderVersion(tool, &kept), c.result);
    EXPECT_EQ(Printed(), c.printed);
    // The caller gets the bytes as the board sent them, control bytes too.
    if (c.result == 0) {
      const Bytes& r = c.reply;
      EXPECT_EQ(Bytes(kept.bytes, kept.bytes + kept.length), Bytes(r.begin() + 4, r.end() - 1));
    } else {
      EXPECT_EQ(kept.length, -5) << "untouched";
    }
    EXPECT_EQ(Sent(), (Bytes{0xFE, 0x00, 0x01, 0x09, 0xFF}));
  }
}

TEST_F(LoaderCommandsTest, PollsUntilReady) {
  Bytes badStuffing = StateReply(0);
  badStuffing[4] = 0xFD;  // the state byte becomes an unknown escape code
  Queue(StateReply(1));
  Queue(badStuffing);
  Queue({0xFE, 0x00, 0x01, 0xFF});  // too short to carry a state
  Queue(StateReply(7));
  Queue(StateReply(0));
  StartCapture();
  EXPECT_EQ(WaitUntilReady(tool), 0);
  EXPECT_EQ(Printed(),
            "Device State: busy\r\nDevice State: Device State: Device State: busy\r\n"
            "Device State: ready\r\n");
  EXPECT_EQ(DecodeFrames(Sent()).size(), 5u);
}

TEST_F(LoaderCommandsTest, GivesUpWhenTheDeviceIsGone) {
  HangUp();
  StartCapture();
  EXPECT_EQ(WaitUntilReady(tool, 1000), -1);
  // With the connection gone every poll fails to send, silently.
  EXPECT_EQ(Printed(), "");
}

TEST_F(LoaderCommandsTest, ResetAcknowledgement) {
  Bytes badStuffing = ResetReply(0);
  badStuffing[2] = 0xFD;
  badStuffing[3] = 0x05;
  struct Case {
    Bytes reply;
    std::string printed;
    int result;
  };
  const Case cases[] = {
      {ResetReply(0), "Ack Frame received: 6\r\n 0  4  7  0 18  0  Restarting Device ok\r\n", 0},
      {ResetReply(1), "Ack Frame received: 6\r\n 0  4  7  0 18  1  Error Restarting Device\r\n",
       -2},
      {{0xFE, 0x00, 0x02, 0x07, 0x18, 0xFF},
       "Ack Frame received: 4\r\n 0  2  7 18  Error "
       "Restarting Device\r\n",
       -2},
      {badStuffing, "Ack Frame received: -1\r\n Error Restarting Device\r\n", -2},
  };
  for (const Case& c : cases) {
    Queue(c.reply);
    StartCapture();
    EXPECT_EQ(ResetDevice(tool), c.result);
    EXPECT_EQ(Printed(), c.printed);
    EXPECT_EQ(Sent(), (Bytes{0xFE, 0x00, 0x01, 0x07, 0xFF}));
  }
}

TEST_F(LoaderCommandsTest, ResetWithoutAnswerOrConnection) {
  HangUp();
  StartCapture();
  EXPECT_EQ(ResetDevice(tool), -1);
  EXPECT_EQ(Printed(), "") << "the reset frame could not be sent";
}

}  // namespace
