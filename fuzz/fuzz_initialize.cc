// Set-up of every libFuzzer harness, once per process: libFuzzer reports on
// stderr, and what the code under test prints on stdout (the receiver's
// "Timeout" lines) would only slow the runs down.
#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // If stdout cannot be silenced the runs are only slower.
  const FILE* silenced = std::freopen("/dev/null", "w", stdout);
  (void)silenced;
  return 0;
}
