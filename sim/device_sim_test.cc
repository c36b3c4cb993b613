#include "sim/device_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/app_commands.h"
#include "protocol/loader_commands.h"
#include "tests/support/bytes.h"
#include "tests/support/loopback.h"
#include "tests/support/replies.h"
#include "tests/support/testutil.h"

namespace {

// A simulator serving one session on a free loopback port from its own
// thread. It logs only to a file the test gave, and ends at the test's
// timeout when that is shorter than the guard's.
class RunningSim {
 public:
  explicit RunningSim(SimOptions options) {
    options.port = 0;
    if (options.log == stderr) options.log = nullptr;
    options.once = true;
    // Otherwise only a guard against a hung test.
    options.timeoutMs = std::min(options.timeoutMs, 60000);
    sim_ = std::make_unique<DeviceSim>(options);
    started_ = sim_->Start();
    if (started_ == 0) thread_ = std::thread([this] { status_ = sim_->Run(); });
  }
  ~RunningSim() {
    sim_->Stop();
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return started_ == 0; }
  int Port() { return sim_->Port(); }
  // Connects client to the simulator. Returns 0 connected, -1 not (or the
  // simulator did not start).
  int Connect(TcpEndpoint& client) { return ok() ? ConnectLoopback(client, Port()) : -1; }
  const DeviceSim& sim() const { return *sim_; }
  // Stops the simulator and returns its status.
  int Stop() {
    sim_->Stop();
    return Finish();
  }
  // Waits for Run to end by itself and returns its status.
  int Finish() {
    if (thread_.joinable()) thread_.join();
    return status_;
  }

 private:
  std::unique_ptr<DeviceSim> sim_;
  std::thread thread_;
  int started_ = -1;
  int status_ = -1;
};

// The loader steps as the tool takes them, the image sent in blocks.
void RunLoaderSteps(TcpEndpoint& client, const Bytes& image) {
  EXPECT_EQ(RequestLoaderVersion(client), 0);
  EXPECT_EQ(SendLoaderCommand(client, LOADER_RESET_FLASHDATA), 0);
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(IMAGE_BLOCK_SIZE, image.size() - at);
    ASSERT_EQ(SendImageBlock(client, image.data() + at, static_cast<int>(n)), 0);
    at += n;
  } while (at < image.size());
  EXPECT_EQ(SendLoaderCommand(client, LOADER_SET_OFFSET), 0);
  EXPECT_EQ(SendLoaderCommand(client, LOADER_START_FLASH), 0);
  EXPECT_EQ(WaitUntilReady(client, 10000), 0);
  ResetDevice(client);
  EXPECT_EQ(SendLoaderCommand(client, LOADER_CLOSE), 0);
}

struct ModeCase {
  int mode;
  bool fragment;
  int delayMs;
};

TEST(DeviceSimTest, ModeQueryReportsTheConfiguredMode) {
  const ModeCase cases[] = {
      {1, false, 0}, {2, false, 0}, {0, true, 0}, {7, true, 30}, {255, false, 30}};
  for (const ModeCase& c : cases) {
    SimOptions options;
    options.mode = c.mode;
    options.fragment = c.fragment;
    options.delayMs = c.delayMs;
    RunningSim sim(options);
    TcpEndpoint client;
    ASSERT_EQ(sim.Connect(client), 0);
    EXPECT_EQ(QueryDeviceMode(client), c.mode) << "mode " << c.mode;
    EXPECT_EQ(RequestAppVersion(client), 0);
    client.Close();
    EXPECT_EQ(sim.Finish(), SIM_EXIT_NO_UPDATE);
  }
}

struct UpdateCase {
  const char* name;
  int mode;
  size_t imageSize;
  int busy;
  bool fragment;
  bool badState;
};

TEST(DeviceSimTest, WholeUpdateWritesTheImageAsSent) {
  const UpdateCase cases[] = {
      {"switch from application", 1, 751, 1, false, false},
      {"empty image", 2, 0, 0, false, false},
      {"one block", 2, 750, 0, false, true},
      {"large, fragmented replies", 2, 300000, 2, true, false},
  };
  for (const UpdateCase& c : cases) {
    const std::string imagePath = std::string("sim_test_image_") + std::to_string(c.imageSize);
    SimOptions options;
    options.mode = c.mode;
    options.busy = c.busy;
    options.fragment = c.fragment;
    options.badState = c.badState;
    options.imageOut = imagePath.c_str();
    const Bytes image = RandomImage(c.imageSize);
    {
      RunningSim sim(options);
      TcpEndpoint client;
      ASSERT_EQ(sim.Connect(client), 0) << c.name;
      const int mode = QueryDeviceMode(client);
      EXPECT_EQ(mode, c.mode) << c.name;
      if (mode == MODE_APPLICATION) {
        EXPECT_EQ(StartUpdateMode(client), 0) << c.name;
        client.Close();
        ASSERT_EQ(ReconnectWaiting(client), 0) << c.name;
        EXPECT_EQ(QueryDeviceMode(client), MODE_UPDATELOADER) << c.name;
      }
      RunLoaderSteps(client, image);
      client.Close();
      EXPECT_EQ(sim.Finish(), SIM_EXIT_UPDATED) << c.name;
    }
    EXPECT_EQ(FileBytes(imagePath.c_str()), image) << c.name;
    std::remove(imagePath.c_str());
  }
}

TEST(DeviceSimTest, RefusedSwitchKeepsTheConnectionForTheLoaderSteps) {
  SimOptions options;
  options.refuse.step = Step::kAppStart;
  options.imageOut = "sim_test_image_refused";
  const Bytes image = RandomImage(5000);
  {
    RunningSim sim(options);
    TcpEndpoint client;
    ASSERT_EQ(sim.Connect(client), 0);
    EXPECT_EQ(QueryDeviceMode(client), MODE_APPLICATION);
    EXPECT_EQ(StartUpdateMode(client), -1);
    RunLoaderSteps(client, image);
    client.Close();
    EXPECT_EQ(sim.Finish(), SIM_EXIT_UPDATED);
  }
  EXPECT_EQ(FileBytes(options.imageOut), image);
  std::remove(options.imageOut);
}

struct SwitchCase {
  bool stayApp;
  bool noLoader;
  int modeAfter;  // -1: no loader to reach
  int status;
};

TEST(DeviceSimTest, SwitchFaultsShowAfterTheReconnect) {
  const SwitchCase cases[] = {{false, false, MODE_UPDATELOADER, SIM_EXIT_NO_UPDATE},
                              {true, false, MODE_APPLICATION, SIM_EXIT_NO_UPDATE},
                              {false, true, -1, SIM_EXIT_NO_UPDATE}};
  for (const SwitchCase& c : cases) {
    SimOptions options;
    options.stayApp = c.stayApp;
    options.noLoader = c.noLoader;
    RunningSim sim(options);
    ASSERT_TRUE(sim.ok());
    const int port = sim.Port();
    TcpEndpoint client;
    ASSERT_EQ(ConnectLoopback(client, port), 0);
    EXPECT_EQ(StartUpdateMode(client), 0);
    client.Close();
    if (c.modeAfter < 0) {
      // The simulator ends once it stopped listening, so the port stays shut.
      EXPECT_EQ(sim.Finish(), c.status);
      EXPECT_EQ(ConnectLoopback(client, port), -1);
      continue;
    }
    ASSERT_EQ(ReconnectWaiting(client), 0);
    EXPECT_EQ(QueryDeviceMode(client), c.modeAfter);
    client.Close();
    EXPECT_EQ(sim.Finish(), c.status);
  }
}

TEST(DeviceSimTest, HangupMidImageClosesTheConnection) {
  SimOptions options;
  options.mode = MODE_UPDATELOADER;
  options.hangupAt.step = Step::kData;
  options.hangupAt.occurrence = 3;
  options.imageOut = "sim_test_image_hangup";
  const Bytes image = RandomImage(10 * IMAGE_BLOCK_SIZE);
  {
    RunningSim sim(options);
    TcpEndpoint client;
    ASSERT_EQ(sim.Connect(client), 0);
    for (int k = 0; k < 3; ++k) {
      ASSERT_EQ(SendImageBlock(client, image.data() + k * IMAGE_BLOCK_SIZE, IMAGE_BLOCK_SIZE), 0);
    }
    uint8_t buffer[16];
    int got = 0;
    for (int wait = 0; wait < 100 && got == 0; ++wait) got = client.ReceiveBlock(buffer, 16, 100);
    EXPECT_EQ(got, -1);
    EXPECT_EQ(sim.Finish(), SIM_EXIT_NO_UPDATE);
  }
  EXPECT_EQ(FileBytes(options.imageOut),
            Bytes(image.begin(), image.begin() + 2 * IMAGE_BLOCK_SIZE));
  std::remove(options.imageOut);
}

TEST(DeviceSimTest, DataPhaseCountsTheImageBytesOfOneRunOfDataFrames) {
  SimOptions options;
  options.mode = MODE_UPDATELOADER;
  const Bytes image = RandomImage(5 * IMAGE_BLOCK_SIZE + 17);
  RunningSim sim(options);
  TcpEndpoint client;
  ASSERT_EQ(sim.Connect(client), 0);
  RunLoaderSteps(client, image);
  client.Close();
  EXPECT_EQ(sim.Finish(), SIM_EXIT_UPDATED);
  EXPECT_EQ(sim.sim().dataPhaseBytes(), static_cast<long long>(image.size()));
  EXPECT_GE(sim.sim().dataPhaseSeconds(), 0.0);
}

using Clock = std::chrono::steady_clock;

// Sends blocks [0, count) of image as data frames.
void SendBlocks(TcpEndpoint& client, const Bytes& image, int count) {
  for (int k = 0; k < count; ++k) {
    ASSERT_EQ(SendImageBlock(client, image.data() + k * IMAGE_BLOCK_SIZE, IMAGE_BLOCK_SIZE), 0);
  }
}

// Reads what arrives until an end marker came (or waitMs passed without a
// byte); returns the bytes.
Bytes ReadUntilEnd(TcpEndpoint& client, int waitMs) {
  Bytes got;
  uint8_t buffer[256];
  while (std::find(got.begin(), got.end(), FRAME_END) == got.end()) {
    const int n = client.ReceiveBlock(buffer, static_cast<int>(sizeof buffer), waitMs);
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

TEST(DeviceSimFaultTest, BabblingBoardStreamsPacedNoiseThatNeverEndsAFrame) {
  SimOptions options;
  options.mode = MODE_UPDATELOADER;
  options.babbleAt = {Step::kLoaderVersion, 1};
  RunningSim sim(options);
  TcpEndpoint client;
  ASSERT_EQ(sim.Connect(client), 0);
  const Clock::time_point start = Clock::now();
  ASSERT_EQ(SendLoaderCommand(client, LOADER_VERSION), 0);
  Bytes got;
  uint8_t buffer[4096];
  while (MillisecondsSince(start) < 1000) {
    const int n = client.ReceiveBlock(buffer, static_cast<int>(sizeof buffer), 50);
    ASSERT_GE(n, 0) << "the board keeps the connection";
    got.insert(got.end(), buffer, buffer + n);
  }
  const long long elapsedMs = MillisecondsSince(start);
  EXPECT_GT(got.size(), 0u);
  EXPECT_EQ(std::count(got.begin(), got.end(), FRAME_END), 0) << "no frame may ever end";
  EXPECT_GT(std::count(got.begin(), got.end(), FRAME_START), 0);
  // Never faster than 64 bytes per 10 ms, however the reads fell.
  EXPECT_LE(got.size(), static_cast<size_t>(64 * (elapsedMs / 10 + 1)));
  // The tool hanging up ends the noise and the session.
  client.Close();
  EXPECT_EQ(sim.Finish(), SIM_EXIT_NO_UPDATE);
}

TEST(DeviceSimFaultTest, TrickledAnswerTakesAPausePerByteAndTheNextIsWhole) {
  constexpr int kPauseMs = 40;
  SimOptions options;
  options.mode = MODE_UPDATELOADER;
  options.trickleAt = {Step::kLoaderVersion, 1};
  options.trickleMs = kPauseMs;
  RunningSim sim(options);
  TcpEndpoint client;
  ASSERT_EQ(sim.Connect(client), 0);
  const Clock::time_point start = Clock::now();
  ASSERT_EQ(SendLoaderCommand(client, LOADER_VERSION), 0);
  const Bytes reply = ReadUntilEnd(client, 10000);
  const long long elapsedMs = MillisecondsSince(start);
  ASSERT_GE(reply.size(), 5u);
  EXPECT_EQ(reply.front(), FRAME_START);
  EXPECT_EQ(reply.back(), FRAME_END);
  EXPECT_GE(elapsedMs, static_cast<long long>(reply.size() - 1) * kPauseMs);
  // The same command again is answered as usual, and whole.
  EXPECT_EQ(RequestLoaderVersion(client), 0);
  client.Close();
  EXPECT_EQ(sim.Finish(), SIM_EXIT_NO_UPDATE);
}

struct StallCase {
  int stallMs;  // 0: for good
  int blocksTaken;
};

TEST(DeviceSimFaultTest, StalledBoardNeitherReadsNorAnswersUntilTheStallEnds) {
  const StallCase cases[] = {{0, 2}, {800, 5}};
  const Bytes image = RandomImage(5 * IMAGE_BLOCK_SIZE);
  for (const StallCase& c : cases) {
    SimOptions options;
    options.mode = MODE_UPDATELOADER;
    options.stallAt = {Step::kData, 2};
    options.stallMs = c.stallMs;
    RunningSim sim(options);
    TcpEndpoint client;
    ASSERT_EQ(sim.Connect(client), 0);
    const Clock::time_point start = Clock::now();
    // All of it fits the socket buffers, and most likely one read.
    SendBlocks(client, image, 5);
    ASSERT_EQ(SendLoaderCommand(client, LOADER_VERSION), 0);
    if (c.stallMs == 0) {
      EXPECT_TRUE(ReadUntilEnd(client, 1500).empty()) << "no answer from a stalled board";
      EXPECT_EQ(sim.Stop(), SIM_EXIT_DEADLINE);
    } else {
      EXPECT_FALSE(ReadUntilEnd(client, 10000).empty());
      EXPECT_GE(MillisecondsSince(start), c.stallMs);
      EXPECT_EQ(SendLoaderCommand(client, LOADER_CLOSE), 0);
      client.Close();
      EXPECT_EQ(sim.Finish(), SIM_EXIT_UPDATED);
    }
    // The frames behind the one that began the stall were not taken.
    EXPECT_EQ(sim.sim().imageBytes(), c.blocksTaken * IMAGE_BLOCK_SIZE) << c.stallMs;
  }
}

TEST(DeviceSimFaultTest, ResetDropsTheConnectionWhereAHangUpClosesIt) {
  for (const bool reset : {false, true}) {
    SimOptions options;
    options.mode = MODE_UPDATELOADER;
    (reset ? options.resetAt : options.hangupAt) = {Step::kLoaderVersion, 1};
    RunningSim sim(options);
    TcpEndpoint client;
    ASSERT_EQ(sim.Connect(client), 0);
    ASSERT_EQ(SendLoaderCommand(client, LOADER_VERSION), 0);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(client.dataSocket, &readable);
    timeval wait{10, 0};
    ASSERT_EQ(select(static_cast<int>(client.dataSocket + 1), &readable, nullptr, nullptr, &wait),
              1);
    // Behind an orderly close our side may still send (the board's system
    // answers the data with a reset only then); behind a reset it fails at
    // once. (A read does not tell them apart everywhere: under Wine it
    // reports the end of the stream for both.)
    const uint8_t byte = 0;
    EXPECT_EQ(client.Send(&byte, 1), reset ? -1 : 0);
    client.Close();
    EXPECT_EQ(sim.Finish(), SIM_EXIT_NO_UPDATE);
  }
}

TEST(DeviceSimFaultTest, BlackholePortLeavesAConnectHanging) {
  for (const bool afterSwitch : {false, true}) {
    SimOptions options;
    options.blackhole = !afterSwitch;
    options.blackholeAfterSwitch = afterSwitch;
    RunningSim sim(options);
    ASSERT_TRUE(sim.ok());
    if (afterSwitch) {
      TcpEndpoint app;
      ASSERT_EQ(sim.Connect(app), 0);
      EXPECT_EQ(QueryDeviceMode(app), MODE_APPLICATION) << "the application still answers";
      EXPECT_EQ(StartUpdateMode(app), 0);
      app.Close();
    }
    for (int wait = 0; wait < 200 && !sim.sim().DropsConnections(); ++wait) Sleep(50);
    ASSERT_TRUE(sim.sim().DropsConnections());
    // The connection request is dropped, not refused: the connect neither
    // succeeds nor fails while the board is there.
    std::atomic<int> connected{1};
    std::thread connector([&connected, &sim] {
      TcpEndpoint client;
      connected = sim.Connect(client);
    });
    Sleep(2000);
    EXPECT_EQ(connected, 1) << "the connect must still hang";
    // Gone, the board refuses the next try of the request, and the connect
    // ends.
    EXPECT_EQ(sim.Stop(), SIM_EXIT_DEADLINE);
    connector.join();
    EXPECT_EQ(connected, -1);
  }
}

TEST(DeviceSimFaultTest, AckEverythingBoardReadsOnWhileTheToolReadsNoReply) {
  SimOptions options;
  options.mode = MODE_UPDATELOADER;
  options.ackEverything = true;
  // Far more acknowledgements (8 bytes each) than the socket buffers hold.
  const Bytes image = RandomImage(40000 * IMAGE_BLOCK_SIZE);
  RunningSim sim(options);
  TcpEndpoint client;
  ASSERT_EQ(sim.Connect(client), 0);
  // The tool's order, reading nothing from the flash-data reset on.
  EXPECT_EQ(RequestLoaderVersion(client), 0);
  EXPECT_EQ(SendLoaderCommand(client, LOADER_RESET_FLASHDATA), 0);
  SendBlocks(client, image, 40000);
  EXPECT_EQ(SendLoaderCommand(client, LOADER_SET_OFFSET), 0);
  EXPECT_EQ(SendLoaderCommand(client, LOADER_START_FLASH), 0);
#if !defined(_WIN32)
  // The board's send buffer is small, so it soon has to drop replies; it
  // must still take every data frame. (Wine keeps socket buffers of its own
  // size, in which the acknowledgements may all fit.)
  for (int wait = 0; wait < 600 && sim.sim().repliesDropped() == 0; ++wait) Sleep(50);
  EXPECT_GT(sim.sim().repliesDropped(), 0);
#endif
  // Stale acknowledgements answer what the tool asks next.
  EXPECT_EQ(WaitUntilReady(client, 10000), 0);
  ResetDevice(client);
  EXPECT_EQ(SendLoaderCommand(client, LOADER_CLOSE), 0);
  // Closing with replies unread would reset the connection and throw away
  // what still waits in our send buffer, the close command included. So we
  // stop sending, which ends the stream behind that data, and read until
  // the board has taken it all and hangs up.
  constexpr int kStopSending = 1;  // SHUT_WR, or SD_SEND on Windows
  ASSERT_EQ(shutdown(client.dataSocket, kStopSending), 0);
  uint8_t buffer[4096];
  for (int idle = 0; idle < 30;) {
    const int n = client.ReceiveBlock(buffer, static_cast<int>(sizeof buffer), 1000);
    if (n < 0) break;
    idle = n == 0 ? idle + 1 : 0;
  }
  client.Close();
  EXPECT_EQ(sim.Finish(), SIM_EXIT_UPDATED);
  EXPECT_EQ(sim.sim().imageBytes(), static_cast<long long>(image.size()));
}

struct PauseCase {
  const char* name;
  int eraseMs;
  int linkKbps;
  int blocks;
  int minMs;
};

TEST(DeviceSimFaultTest, BoardPausesHoldTheToolBack) {
  // 120 blocks are about 90.7 kB on the wire: at 100 kB/s at least 0.9 s, less
  // the first 10 ms slice.
  const PauseCase cases[] = {{"erase", 800, 0, 3, 800}, {"link", 0, 100, 120, 890}};
  for (const PauseCase& c : cases) {
    SimOptions options;
    options.mode = MODE_UPDATELOADER;
    options.eraseMs = c.eraseMs;
    options.linkKbps = c.linkKbps;
    const Bytes image = RandomImage(static_cast<size_t>(c.blocks) * IMAGE_BLOCK_SIZE);
    RunningSim sim(options);
    TcpEndpoint client;
    ASSERT_EQ(sim.Connect(client), 0) << c.name;
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(SendLoaderCommand(client, LOADER_RESET_FLASHDATA), 0) << c.name;
    SendBlocks(client, image, c.blocks);
    // Answered only once everything before it was taken.
    EXPECT_EQ(RequestLoaderVersion(client), 0) << c.name;
    EXPECT_GE(MillisecondsSince(start), c.minMs) << c.name;
    EXPECT_EQ(SendLoaderCommand(client, LOADER_CLOSE), 0) << c.name;
    client.Close();
    EXPECT_EQ(sim.Finish(), SIM_EXIT_UPDATED) << c.name;
    EXPECT_EQ(sim.sim().imageBytes(), static_cast<long long>(image.size())) << c.name;
  }
}

// The decoded frames that arrive until count came, or until waitMs passed
// without a byte, or the connection ended.
std::vector<Bytes> ReadFrames(TcpEndpoint& client, size_t count, int waitMs) {
  Bytes got;
  uint8_t buffer[256];
  while (DecodeFrames(got).size() < count) {
    const int n = client.ReceiveBlock(buffer, static_cast<int>(sizeof buffer), waitMs);
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return DecodeFrames(got);
}

// The application version text the board reports, or "" without a reply.
std::string AppVersionText(TcpEndpoint& client) {
  uint8_t frame[COMMAND_FRAME_MAX_RAW];
  const int len = BuildCommandFrame(APP_VERSION, 0, frame);
  if (client.Send(frame, len) != 0) return "";
  constexpr size_t kTextEnd = APP_VERSION_TEXT_AT + APP_VERSION_CHARS;
  const std::vector<Bytes> replies = ReadFrames(client, 2, 10000);
  if (replies.size() < 2 || replies[1].size() < kTextEnd) return "";
  const Bytes& reply = replies[1];
  return std::string(reply.begin() + APP_VERSION_TEXT_AT, reply.begin() + kTextEnd);
}

// Waits (bounded) until done() holds; returns whether it did.
template <typename Done>
bool WaitFor(Done done) {
  for (int wait = 0; wait < 1000 && !done(); ++wait) Sleep(10);
  return done();
}

struct RestartCase {
  const char* newVersion;
  bool intoLoader;
  int rebootMs;
  const char* version;  // reported after the restart
  const char* logLine;  // what the log tells of the comeback
};

TEST(DeviceSimRestartTest, BoardRefusesConnectionsThenComesBackAfterTheClose) {
  const RestartCase cases[] = {
      {"V2", false, 2500, "V2   ", "sim: application running again, version V2   \n"},
      {nullptr, false, 0, "SIM01", "sim: application running again, version SIM01\n"},
      {"ABCDE", true, 200, nullptr, "sim: update loader running again, reporting mode 2\n"},
  };
  for (const RestartCase& c : cases) {
    FILE* log = TempFileWith(std::string());
    ASSERT_NE(log, nullptr);
    SimOptions options;
    options.untilBoot = true;
    options.newVersion = c.newVersion;
    options.bootIntoLoader = c.intoLoader;
    options.rebootMs = c.rebootMs;
    options.log = log;
    {
      RunningSim sim(options);
      TcpEndpoint client;
      ASSERT_EQ(sim.Connect(client), 0);
      EXPECT_EQ(AppVersionText(client), "SIM01") << "before the restart";
      EXPECT_EQ(QueryDeviceMode(client), MODE_APPLICATION);
      // The loader steps on the application's connection, as after a
      // refused switch: the close command is what counts.
      RunLoaderSteps(client, RandomImage(1000));
      client.Close();
      const Clock::time_point closed = Clock::now();
      if (c.rebootMs >= 2000) {
        ASSERT_TRUE(WaitFor([&sim] { return sim.sim().RefusesConnections(); }));
        // Refused, not dropped: the attempt fails long before its own limit.
        const Clock::time_point start = Clock::now();
        client.connectTimeoutMs = 20000;
        EXPECT_EQ(client.Connect(), -1);
        EXPECT_LT(MillisecondsSince(start), 10000);
      }
      ASSERT_EQ(ReconnectWaiting(client), 0) << c.rebootMs;
      EXPECT_GE(MillisecondsSince(closed), c.rebootMs);
      EXPECT_FALSE(sim.sim().RefusesConnections());
      if (c.intoLoader) {
        EXPECT_EQ(QueryDeviceMode(client), MODE_UPDATELOADER);
        EXPECT_EQ(RequestLoaderVersion(client), 0);
      } else {
        EXPECT_EQ(QueryDeviceMode(client), MODE_APPLICATION);
        EXPECT_EQ(AppVersionText(client), c.version);
      }
      client.Close();
      // The restarted board's first session ends the run.
      EXPECT_EQ(sim.Finish(), SIM_EXIT_UPDATED);
    }
    const std::string text = StreamText(log);
    std::fclose(log);
    const std::string restarting =
        "sim: restarting, refusing connections for " + std::to_string(c.rebootMs) + " ms\n";
    const size_t close = text.find("sim: close:1 len 1\n");
    const size_t restart = text.find(restarting);
    const size_t back = text.find(c.logLine);
    ASSERT_NE(close, std::string::npos) << text;
    ASSERT_NE(restart, std::string::npos) << text;
    ASSERT_NE(back, std::string::npos) << text;
    EXPECT_LT(close, restart);
    EXPECT_LT(restart, back);
    // The boot check's frames show by step name behind the comeback.
    EXPECT_NE(text.find(c.intoLoader ? "sim: loader-query:1 " : "sim: app-query:2 ", back),
              std::string::npos)
        << text;
  }
}

TEST(DeviceSimRestartTest, BoardThatNeverBootsDropsConnectionRequestsUntilTheTimeout) {
  SimOptions options;
  options.mode = MODE_UPDATELOADER;
  options.untilBoot = true;
  options.noBoot = true;
  options.timeoutMs = 5000;
  const Clock::time_point start = Clock::now();
  RunningSim sim(options);
  TcpEndpoint client;
  ASSERT_EQ(sim.Connect(client), 0);
  RunLoaderSteps(client, RandomImage(1000));
  client.Close();
  ASSERT_TRUE(WaitFor([&sim] { return sim.sim().DropsConnections(); }));
  std::atomic<int> connected{1};
  std::thread connector([&connected, &sim] {
    TcpEndpoint late;
    late.connectTimeoutMs = 20000;
    connected = sim.Connect(late);
  });
  Sleep(1000);
  EXPECT_EQ(connected, 1) << "the connect must still hang";
  // The run ends by itself, at its timeout.
  EXPECT_EQ(sim.Finish(), SIM_EXIT_DEADLINE);
  EXPECT_GE(MillisecondsSince(start), 5000);
  connector.join();
  EXPECT_EQ(connected, -1);
}

TEST(DeviceSimFaultTest, BusyForeverBoardNeverReportsReady) {
  SimOptions options;
  options.mode = MODE_UPDATELOADER;
  options.busyForever = true;
  RunningSim sim(options);
  TcpEndpoint client;
  ASSERT_EQ(sim.Connect(client), 0);
  EXPECT_EQ(SendLoaderCommand(client, LOADER_START_FLASH), 0);
  constexpr size_t kPolls = 3;
  for (size_t k = 0; k < kPolls; ++k) {
    EXPECT_EQ(SendLoaderCommand(client, LOADER_DEVICE_STATE), 0);
  }
  const std::vector<Bytes> replies = ReadFrames(client, kPolls, 10000);
  ASSERT_EQ(replies.size(), kPolls);
  for (const Bytes& reply : replies) {
    EXPECT_EQ(StateReplyReady(reply.data(), static_cast<int>(reply.size())), 0);
  }
  EXPECT_EQ(SendLoaderCommand(client, LOADER_CLOSE), 0);
  client.Close();
  EXPECT_EQ(sim.Finish(), SIM_EXIT_UPDATED);
}

}  // namespace
