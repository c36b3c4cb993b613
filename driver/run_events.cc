#include "driver/run_events.h"

#include <cstring>

namespace {

constexpr struct {
  RunFailure failure;
  const char* name;
} kFailureNames[] = {
    {RunFailure::kUsage, "usage"},
    {RunFailure::kNoAddress, "no-address"},
    {RunFailure::kNoImage, "no-image"},
    {RunFailure::kSockets, "sockets"},
    {RunFailure::kAddress, "address"},
    {RunFailure::kNoSocket, "no-socket"},
    {RunFailure::kConnect, "connect"},
    {RunFailure::kNoDevice, "no-device"},
    {RunFailure::kLoaderUnreachable, "loader-unreachable"},
    {RunFailure::kNotLoader, "not-loader"},
    {RunFailure::kWrite, "write"},
    {RunFailure::kImageChanged, "image-changed"},
    {RunFailure::kImageUnreadable, "image-unreadable"},
    {RunFailure::kNoState, "no-state"},
    {RunFailure::kNotOrdered, "not-ordered"},
    {RunFailure::kImageMismatch, "image-mismatch"},
    {RunFailure::kBoot, "boot"},
    {RunFailure::kBootLoader, "boot-loader"},
    {RunFailure::kVersionMismatch, "version-mismatch"},
    {RunFailure::kNotReady, "not-ready"},
};

}  // namespace

const char* RunFailureName(RunFailure failure) {
  for (const auto& f : kFailureNames) {
    if (f.failure == failure) return f.name;
  }
  return nullptr;
}

RunFailure RunFailureFromName(const char* name) {
  for (const auto& f : kFailureNames) {
    if (std::strcmp(f.name, name) == 0) return f.failure;
  }
  return RunFailure::kNone;
}

const char* RunPhaseName(RunPhase phase) {
  switch (phase) {
    case RunPhase::kSwitching:
      return "switching";
    case RunPhase::kLoader:
      return "loader";
    case RunPhase::kSending:
      return "sending";
    case RunPhase::kFlashing:
      return "flashing";
    case RunPhase::kResetting:
      return "resetting";
    case RunPhase::kClosing:
      return "closing";
    case RunPhase::kVerifying:
      return "verifying";
  }
  return "?";
}

const char* RunStepName(RunStep step) {
  switch (step) {
    case RunStep::kResetFlashdata:
      return "reset-flashdata";
    case RunStep::kSetOffset:
      return "set-offset";
    case RunStep::kStartFlash:
      return "start-flash";
    case RunStep::kReset:
      return "reset";
    case RunStep::kClose:
      return "close";
  }
  return "?";
}
