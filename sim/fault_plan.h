// Which faults strike which command: the simulator counts every command the
// tool sends per step and asks the plan, for each, what the board does
// besides (or instead of) its normal answer.
#ifndef TCPFLASH_SIM_FAULT_PLAN_H_
#define TCPFLASH_SIM_FAULT_PLAN_H_

#include "sim/sim_options.h"

// A stall that never ends.
constexpr int STALL_FOR_GOOD = -1;

// What the board does with one command.
struct FaultAction {
  int occurrence = 0;       // this command's count within its step, 1 the first
  bool hangUp = false;      // close the connection in order; no answer
  bool reset = false;       // drop the connection with a reset; no answer
  bool silenceNow = false;  // from this command on nothing is answered
  bool babbleNow = false;   // from this command on, noise instead of answers
  bool refuse = false;      // acknowledge with status 0x01
  bool trickle = false;     // this command's answer goes out one byte at a time
  // Behind this command the board takes nothing and answers nothing for
  // stallMs (STALL_FOR_GOOD: never again); 0 no stall. erase tells that the
  // stall is the flash erase behind a flash-data reset.
  int stallMs = 0;
  bool erase = false;
};

class FaultPlan {
 public:
  explicit FaultPlan(const SimOptions& options) : options_(options) {}

  // Counts one more arrival of step and returns what the board does with
  // it. Silence and babbling, once reached, stay for the rest of the run.
  FaultAction Take(Step step);

  // True while the board answers at all.
  bool answers() const { return !silent_ && !babbling_; }
  bool babbling() const { return babbling_; }

 private:
  bool Hits(const StepAt& at, Step step, int occurrence) const {
    return at.step == step && at.occurrence == occurrence;
  }

  SimOptions options_;
  int occurrences_[STEP_COUNT] = {};
  bool silent_ = false;
  bool babbling_ = false;
};

#endif  // TCPFLASH_SIM_FAULT_PLAN_H_
