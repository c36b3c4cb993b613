#include "protocol/app_commands.h"

#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/loopback.h"
#include "tests/support/replies.h"

namespace {

using AppCommandsTest = LoopbackPeerTest;

TEST_F(AppCommandsTest, FirstModeQueryOnTheWire) {
  sequenceCounter = 1;
  Queue(AckReply(1));
  Queue(StatusReply(1, MODE_APPLICATION));
  StartCapture();
  EXPECT_EQ(QueryDeviceMode(tool), MODE_APPLICATION);
  EXPECT_EQ(Printed(),
            "Ack Frame received: ok\r\nStatus lesen... ok\r\n\r\nStatus received..ok\r\n");
  EXPECT_EQ(Sent(), (Bytes{0xFE, 0x00, 0x00, 0x01, 0x05, 0x2D, 0x03, 0x4E, 0x53, 0x02, 0xD3, 0xFD,
                           0x00, 0xFF}));
  EXPECT_EQ(sequenceCounter, 2);
}

TEST_F(AppCommandsTest, SequenceNumbersOfARunFromApplicationMode) {
  sequenceCounter = 1;
  Queue(AckReply(1));
  Queue(StatusReply(1, 1));
  Queue(AckReply(0));
  Queue(AppVersionReply("V1.23"));
  Queue(AckReply(2));
  StartCapture();
  QueryDeviceMode(tool);
  EXPECT_EQ(RequestAppVersion(tool), 0);
  EXPECT_EQ(StartUpdateMode(tool), 0);
  Printed();
  const std::vector<Bytes> frames = DecodeFrames(Sent());
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0][2], 1);
  EXPECT_EQ(frames[1], (Bytes{0x00, 0x00, 0x00, 0x05, 0x2D, 0x03, 0x4E, 0x53, 0x09, 0xDA, 0xF7}));
  EXPECT_EQ(frames[2], (Bytes{0x00, 0x00, 0x02, 0x05, 0x2D, 0x03, 0x4E, 0x53, 0x03, 0x1B, 0x5E}));
  EXPECT_EQ(sequenceCounter, 3);
}

TEST_F(AppCommandsTest, SequenceNumberWrapsAndIsUsedUpByAFailedSend) {
  sequenceCounter = 255;
  tool.Close();
  StartCapture();
  EXPECT_EQ(QueryDeviceMode(tool), -1);
  EXPECT_EQ(StartUpdateMode(tool), -1);
  EXPECT_EQ(RequestAppVersion(tool), -1);
  EXPECT_EQ(Printed(), "Socket Write Error\nSocket Write Error\nSocket Write Error\n");
  EXPECT_EQ(sequenceCounter, 1) << "255 and 0 used up, the version took none";
}

TEST_F(AppCommandsTest, ModeQueryReplies) {
  const std::string acked = "Ack Frame received: ok\r\nStatus lesen... ok\r\n";
  struct Case {
    const char* name;
    std::vector<Bytes> replies;
    int mode;
    std::string printed;
  };
  Bytes wrongTag = StatusReply(1, 1);
  wrongTag[6] = 0x03;  // 0x03 instead of 0x04 at decoded index 5
  Bytes badStuffing = StatusReply(1, 1);
  badStuffing[3] = 0xFD;
  badStuffing[4] = 0x07;
  const Case cases[] = {
      {"mode 0", {AckReply(1), StatusReply(1, 0)}, 0, acked + "\r\nStatus received..ok\r\n"},
      {"mode 7", {AckReply(1), StatusReply(1, 7)}, 7, acked + "\r\nStatus received..ok\r\n"},
      {"mode 255", {AckReply(1), StatusReply(1, 255)}, 255, acked + "\r\nStatus received..ok\r\n"},
      {"refused", {AckReply(1, 0x01)}, -1, "Read Err\n"},
      {"short ack", {{0xFE, 0x00, 0x00, 0x01, 0x02, 0x18, 0xFF}}, -1, "Read Err\n"},
      {"not an ack", {StatusReply(1, 1)}, -1, "Read Err\n"},
      {"wrong tag", {AckReply(1), wrongTag}, -1, acked + "\r\nStatus received.."},
      {"short status",
       {AckReply(1), {0xFE, 0, 0, 1, 6, 0x2D, 4, 0x4E, 0x53, 2, 0xFF}},
       -1,
       acked + "\r\nStatus received.."},
      {"bad stuffing", {AckReply(1), badStuffing}, -1, acked},
      {"empty status", {AckReply(1), {0xFE, 0xFF}}, -1, acked},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const Bytes& reply : c.replies) Queue(reply);
    StartCapture();
    EXPECT_EQ(QueryDeviceMode(tool), c.mode);
    EXPECT_EQ(Printed(), c.printed);
    Sent();
  }
}

TEST_F(AppCommandsTest, MissingStatusReplyTimesOut) {
  Queue(AckReply(1));
  StartCapture();
  EXPECT_EQ(QueryDeviceMode(tool), -1);
  EXPECT_EQ(Printed(), "Ack Frame received: ok\r\nStatus lesen... Timeout\r\nok\r\n");
}

TEST_F(AppCommandsTest, VersionIsPrintedFromTheReply) {
  Queue(AckReply(0));
  Queue(AppVersionReply("V1.23"));
  StartCapture();
  EXPECT_EQ(RequestAppVersion(tool), 0);
  // The CRC bytes of the reply close the dump.
  const std::string printed = Printed();
  const std::string head = "\r\nVersion received: 16\r\n 0  0  0  a 2d  4 4e 53  9 56 31 2e 32 33 ";
  EXPECT_EQ(printed.substr(0, head.size()), head);
  EXPECT_EQ(printed.substr(printed.size() - 17), "\r\nVersion V1.23\r\n");
}

TEST_F(AppCommandsTest, ShortVersionReplyShowsOnlyWhatItCarried) {
  Queue(AckReply(0));
  Queue({0xFE, 0, 0, 0, 7, 0x2D, 4, 0x4E, 0x53, 9, 'V', '1', 0xFF});
  StartCapture();
  VersionText kept;
  EXPECT_EQ(RequestAppVersion(tool, &kept), 0);
  EXPECT_EQ(std::string(kept.bytes, kept.bytes + kept.length), "V1");
  EXPECT_EQ(Printed(),
            "\r\nVersion received: 11\r\n 0  0  0  7 2d  4 4e 53  9 56 31 \r\nVersion V1\r\n");
}

TEST_F(AppCommandsTest, ControlBytesOfTheVersionShowAsDots) {
  Queue(AckReply(0));
  Queue(
      AppVersionReply("\x1b"
                      "c\x9b"
                      "1\x07"));
  StartCapture();
  VersionText kept;
  EXPECT_EQ(RequestAppVersion(tool, &kept), 0);
  const std::string printed = Printed();
  EXPECT_EQ(printed.substr(printed.size() - 17), "\r\nVersion .c.1.\r\n");
  // Only the console sees dots: the caller gets the bytes the board sent.
  EXPECT_EQ(std::string(kept.bytes, kept.bytes + kept.length),
            "\x1b"
            "c\x9b"
            "1\x07");
}

TEST_F(AppCommandsTest, RefusedVersionAndSwitchPrintNothingOfTheirOwn) {
  Queue(AckReply(0, 0x01));
  Queue(AckReply(2, 0x01));
  StartCapture();
  EXPECT_EQ(RequestAppVersion(tool), -1);
  EXPECT_EQ(StartUpdateMode(tool), -1);
  EXPECT_EQ(Printed(), "Write Update Command ok\n");
}

TEST_F(AppCommandsTest, AcknowledgedSwitch) {
  sequenceCounter = 2;
  Queue(AckReply(2));
  StartCapture();
  EXPECT_EQ(StartUpdateMode(tool), 0);
  const std::string printed = Printed();
  const std::string head = "Write Update Command ok\nAck Frame received: 8\r\n 0  0  2  2 18  0 ";
  EXPECT_EQ(printed.substr(0, head.size()), head);
  EXPECT_EQ(DecodeFrames(Sent()).size(), 1u);
}

}  // namespace
