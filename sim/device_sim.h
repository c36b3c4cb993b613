// The simulated device's serve loop: listens on one port for the whole run,
// takes one connection at a time, reads the tool's frames at the pace the
// board allows, hands each to the fault plan and the answers, and sends the
// replies without ever blocking on a tool that does not read them. The
// application firmware plays first; once it acknowledged the switch and the
// tool hung up, the update loader plays on the same port. Once the tool hung
// up after the close command the board restarts: the port refuses
// connections for a while, then the application plays again. Runs in-process
// so that tests can drive it on a thread.
#ifndef TCPFLASH_SIM_DEVICE_SIM_H_
#define TCPFLASH_SIM_DEVICE_SIM_H_

#include <atomic>
#include <chrono>
#include <cstdint>

#include "frame/frame_stream_decoder.h"
#include "net/tcp_endpoint.h"
#include "protocol/device_peer.h"
#include "sim/device_answers.h"
#include "sim/fault_plan.h"
#include "sim/image_record.h"
#include "sim/reply_queue.h"
#include "sim/sim_options.h"

class DeviceSim : private FrameSink, private ReplySink {
 public:
  explicit DeviceSim(const SimOptions& options);
  DeviceSim(const DeviceSim&) = delete;
  DeviceSim& operator=(const DeviceSim&) = delete;
  ~DeviceSim() override;

  // Opens the image file and starts listening (with --blackhole, the port
  // drops connection requests from here on). Returns 0, or SIM_EXIT_USAGE.
  int Start();
  // The port listened on, once Start succeeded.
  int Port() { return endpoint_.LocalPort(); }
  // Serves connections until the session ends (--once; with --until-boot the
  // restarted board's first one), the loader is withheld, the deadline passes
  // or Stop is called. Returns a SIM_EXIT_*.
  int Run();
  // Makes Run return SIM_EXIT_DEADLINE soon; callable from any thread.
  void Stop() { stopRequested_ = true; }

  long long imageBytes() const { return image_.bytes(); }
  // The last finished data phase (an unbroken run of data frames): its image
  // bytes and the time from its first to its last frame's arrival. Each one
  // is also logged as "data phase: ...".
  long long dataPhaseBytes() const { return image_.phaseBytes(); }
  double dataPhaseSeconds() const { return image_.phaseSeconds(); }
  // Replies dropped because the tool did not read them and they no longer
  // fit the board's send queue; callable from any thread.
  long long repliesDropped() const { return repliesDropped_; }
  // True once the port drops connection requests (--blackhole, or
  // --blackhole-after-switch after the switch); callable from any thread.
  bool DropsConnections() const { return dropping_; }
  // True while the restarting board refuses connections; callable from any
  // thread.
  bool RefusesConnections() const { return refusing_; }

 private:
  using Clock = std::chrono::steady_clock;
  enum class Conn { kEnded, kExpired };

  bool OnFrame(const uint8_t* content, int n) override;
  void OnReject(FrameReject reason) override;
  void Reply(const uint8_t* frame, int len) override;
  bool Expired() const;
  // Fills the listener's queue with the fillers. Returns 0, or -1 when a
  // filler could not connect.
  int DropConnectionRequests();
  // The restart behind the close command: the port goes dark for good
  // (--no-boot), or refuses connections for --reboot-ms and then listens
  // again with the application (or the loader) playing; a port that cannot
  // be listened on yet is tried again until the run expires. Returns 0, also
  // when the run expired meanwhile; SIM_EXIT_USAGE when the port could not be
  // darkened.
  int Reboot();
  // Listens on port again: on held when it holds the port (it is then
  // given to the endpoint), else on a new socket. Returns 0, or -1.
  int ListenAgain(int port, SOCKET* held);
  // Serves the accepted connection until it ends or the run expires.
  Conn Serve();
  void EndConnection();
  // Decodes block_[at, at + n); what a stall leaves undecoded becomes the
  // pending bytes.
  void Decode(int at, int n);
  // Each of these may bring *wake forward to the time it next has work.
  // True while a stall (or the erase pause) holds the board.
  bool Stalled(Clock::time_point now, Clock::time_point* wake);
  // Queues the next chunk of noise when it is due.
  void Babble(Clock::time_point now, Clock::time_point* wake);
  // How many bytes may be read now (--link-kbps); the whole block without a
  // limit.
  int ReadBudget(Clock::time_point now, Clock::time_point* wake);

  SimOptions options_;
  // Listens for the whole run; hanging up closes only the data socket, so
  // that the port stays open for the next connection.
  TcpEndpoint endpoint_;
  // Connections to our own port, held unaccepted so that the listener's
  // queue stays full and the system drops every further connection request
  // (backlog 1 queues two).
  TcpEndpoint fillers_[2];
  std::atomic<bool> dropping_{false};
  std::atomic<bool> refusing_{false};
  bool restarted_ = false;  // the board has restarted behind a close command
  uint8_t requestContent_[REQUEST_CONTENT_MAX];
  FrameStreamDecoder decoder_;
  ImageRecord image_;
  DeviceAnswers answers_;
  FaultPlan faults_;
  ReplyQueue queue_;
  Clock::time_point deadline_;
  std::atomic<bool> stopRequested_{false};
  // The connection in service.
  bool connectionEnded_ = false;
  bool sendFailed_ = false;           // the tool takes no more replies
  bool trickleThis_ = false;          // the command being answered trickles
  int strays_ = 0;                    // stray bytes before the last fragmented reply
  Clock::time_point replyNotBefore_;  // when its answer may start
  bool droppingReplies_ = false;
  std::atomic<long long> repliesDropped_{0};
  // Bytes read but not yet decoded: block_[pendingAt_, pendingAt_ +
  // pendingLength_), left behind the command that began a stall.
  int pendingAt_ = 0;
  int pendingLength_ = 0;
  // Stalls and the erase pause.
  bool stalled_ = false;
  bool stallForGood_ = false;
  Clock::time_point stallUntil_;
  // Babbling.
  Clock::time_point nextBabble_;
  unsigned babbleChunks_ = 0;
  // Read pacing (--link-kbps): bytes that may be read now, and when that
  // allowance was last topped up.
  double readAllowance_ = 0;
  Clock::time_point allowanceAt_;
  uint8_t block_[1 << 16];
};

#endif  // TCPFLASH_SIM_DEVICE_SIM_H_
