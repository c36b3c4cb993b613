// tcpflash-sim: a device on a local port for the tool's tests and benchmarks.
#include <cstdio>

#include "sim/device_sim.h"
#include "sim/sim_args.h"

int main(int argc, char** argv) {
  SimOptions options;
  const int parsed = ParseSimArgs(argc, argv, &options);
  if (parsed == 1) {
    PrintSimUsage(stdout);
    return 0;
  }
  if (parsed != 0) return SIM_EXIT_USAGE;
  // Large: it holds the receive block and the image buffer.
  static DeviceSim sim(options);
  const int started = sim.Start();
  if (started != 0) return started;
  std::printf("port %d\n", sim.Port());
  std::fflush(stdout);
  return sim.Run();
}
