#include "sim/sim_options.h"

#include <cstdlib>
#include <cstring>

namespace {

struct StepEntry {
  Step step;
  const char* name;
  bool hasStatus;
};

// kUnknown is named for the log only: no fault can be tied to it.
constexpr StepEntry kStepNames[] = {
    {Step::kAppQuery, "app-query", true},
    {Step::kAppVersion, "app-version", true},
    {Step::kAppStart, "app-start", true},
    {Step::kLoaderQuery, "loader-query", true},
    {Step::kLoaderVersion, "loader-version", false},
    {Step::kResetFlashdata, "reset-flashdata", false},
    {Step::kData, "data", false},
    {Step::kSetOffset, "set-offset", false},
    {Step::kStartFlash, "start-flash", false},
    {Step::kState, "state", false},
    {Step::kReset, "reset", true},
    {Step::kClose, "close", false},
    {Step::kUnknown, "unknown", false},
};

const StepEntry* FindStep(Step step) {
  for (const StepEntry& entry : kStepNames) {
    if (entry.step == step) return &entry;
  }
  return nullptr;
}

}  // namespace

const char* StepName(Step step) {
  const StepEntry* entry = FindStep(step);
  return entry != nullptr ? entry->name : "none";
}

bool StepHasStatus(Step step) {
  const StepEntry* entry = FindStep(step);
  return entry != nullptr && entry->hasStatus;
}

int ParseStepAt(const char* text, StepAt* at) {
  const char* colon = std::strchr(text, ':');
  const size_t nameLength =
      colon != nullptr ? static_cast<size_t>(colon - text) : std::strlen(text);
  int occurrence = 1;
  if (colon != nullptr) {
    char* end = nullptr;
    const long k = std::strtol(colon + 1, &end, 10);
    if (end == colon + 1 || *end != '\0' || k < 1 || k > 1000000000L) return -1;
    occurrence = static_cast<int>(k);
  }
  for (const StepEntry& entry : kStepNames) {
    if (entry.step != Step::kUnknown && std::strlen(entry.name) == nameLength &&
        std::strncmp(entry.name, text, nameLength) == 0) {
      at->step = entry.step;
      at->occurrence = occurrence;
      return 0;
    }
  }
  return -1;
}
