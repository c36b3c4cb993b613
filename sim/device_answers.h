// What the board answers: its application firmware until the tool hung up
// after an acknowledged switch, its update loader from then on until the
// board restarts behind the close command, and the image the loader takes.
// Knows nothing of sockets or faults in time: it hands each reply to a
// ReplySink and is told whether the board answers at all.
#ifndef TCPFLASH_SIM_DEVICE_ANSWERS_H_
#define TCPFLASH_SIM_DEVICE_ANSWERS_H_

#include <chrono>
#include <cstdint>

#include "protocol/device_peer.h"
#include "sim/image_record.h"
#include "sim/sim_options.h"

// Takes the board's replies.
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  // frame[0,len) is one raw reply frame, valid only during the call.
  virtual void Reply(const uint8_t* frame, int len) = 0;
};

class DeviceAnswers {
 public:
  // options and image must outlive the object.
  DeviceAnswers(const SimOptions& options, ImageRecord& image);

  // The step a request belongs to; a mode query counts as the loader's once
  // the loader plays.
  Step Classify(const DeviceRequest& request) const;

  // Gives the answer to request (of step) to out. refused: acknowledge with
  // status 0x01 and skip what follows an acknowledgement. answers: false for
  // a board that has gone silent; the command still takes effect (an image
  // block is still stored) but nothing is handed to out and a switch is not
  // started.
  void Answer(Step step, const DeviceRequest& request, bool refused, bool answers, ReplySink& out);

  // True once when the connection that just ended acknowledged the switch:
  // the loader is due (the caller decides whether it comes).
  bool TakeSwitch();

  // Lets the loader play from the next connection on; returns the mode it
  // reports.
  int StartLoader();

  // True once when the connection that just ended carried the close
  // command: the board restarts (the caller decides whether it comes back).
  bool TakeClose();

  // The board starts again: from the next connection on its application
  // plays (mode 1, reporting --new-version when given), or with intoLoader
  // its update loader (mode 2). Returns the mode it reports.
  int Restart(bool intoLoader);

  // The application version reported now: APP_VERSION_CHARS characters,
  // not terminated.
  const char* appVersion() const { return appVersion_; }

  bool closeSeen() const { return closeSeen_; }

 private:
  const SimOptions& options_;
  ImageRecord& image_;
  bool loaderPlays_;
  int reportedMode_;
  bool switchPending_ = false;
  bool closeSeen_ = false;
  bool closePending_ = false;
  char appVersion_[APP_VERSION_CHARS];
  int statePolls_ = 0;
  std::chrono::steady_clock::time_point flashDone_;
  bool badStateSent_ = false;
};

#endif  // TCPFLASH_SIM_DEVICE_ANSWERS_H_
