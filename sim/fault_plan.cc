#include "sim/fault_plan.h"

FaultAction FaultPlan::Take(Step step) {
  FaultAction action;
  action.occurrence = ++occurrences_[static_cast<int>(step)];
  const int k = action.occurrence;
  // A connection that ends here leaves nothing else to do.
  if (Hits(options_.hangupAt, step, k)) {
    action.hangUp = true;
    return action;
  }
  if (Hits(options_.resetAt, step, k)) {
    action.reset = true;
    return action;
  }
  if (Hits(options_.silentAt, step, k) && !silent_) {
    silent_ = true;
    action.silenceNow = true;
  }
  if (Hits(options_.babbleAt, step, k) && !babbling_) {
    babbling_ = true;
    action.babbleNow = true;
  }
  action.refuse = Hits(options_.refuse, step, k);
  action.trickle = Hits(options_.trickleAt, step, k);
  if (step == Step::kResetFlashdata && options_.eraseMs > 0) {
    action.stallMs = options_.eraseMs;
    action.erase = true;
  }
  if (Hits(options_.stallAt, step, k)) {
    const int ms = options_.stallMs > 0 ? options_.stallMs : STALL_FOR_GOOD;
    if (ms == STALL_FOR_GOOD || ms > action.stallMs) {
      action.stallMs = ms;
      action.erase = false;
    }
  }
  return action;
}
