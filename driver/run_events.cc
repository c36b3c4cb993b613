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

// Phases in the order of the enumeration: a phase's name is kPhaseNames[phase].
constexpr const char* kPhaseNames[] = {"switching", "loader",  "sending",  "flashing",
                                       "resetting", "closing", "verifying"};
static_assert(sizeof kPhaseNames / sizeof kPhaseNames[0] ==
                  static_cast<size_t>(RunPhase::kVerifying) + 1,
              "a name for every phase");

constexpr const char* kStepNames[] = {"reset-flashdata", "set-offset", "start-flash", "reset",
                                      "close"};
static_assert(sizeof kStepNames / sizeof kStepNames[0] == static_cast<size_t>(RunStep::kClose) + 1,
              "a name for every step");

// True when text[0,length) is exactly the zero-terminated name.
bool Named(const char* text, size_t length, const char* name) {
  return std::strlen(name) == length && std::memcmp(text, name, length) == 0;
}

}  // namespace

const char* RunFailureName(RunFailure failure) {
  for (const auto& f : kFailureNames) {
    if (f.failure == failure) return f.name;
  }
  return nullptr;
}

RunFailure RunFailureFromName(const char* text, size_t length) {
  for (const auto& f : kFailureNames) {
    if (Named(text, length, f.name)) return f.failure;
  }
  return RunFailure::kNone;
}

const char* RunPhaseName(RunPhase phase) { return kPhaseNames[static_cast<size_t>(phase)]; }

bool RunPhaseFromName(const char* text, size_t length, RunPhase* phase) {
  for (size_t i = 0; i < sizeof kPhaseNames / sizeof kPhaseNames[0]; ++i) {
    if (Named(text, length, kPhaseNames[i])) {
      *phase = static_cast<RunPhase>(i);
      return true;
    }
  }
  return false;
}

const char* RunStepName(RunStep step) { return kStepNames[static_cast<size_t>(step)]; }

const char* VersionOfName(VersionOf of) {
  return of == VersionOf::kApplication ? "application" : "loader";
}
