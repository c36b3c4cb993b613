// Child processes, their pipes and ends, the operator's stop requests and
// the console: everything of tcpflash-many that differs between platforms.
// One file per platform implements it (many/process_posix.cc,
// many/process_win32.cc); CMake picks the one.
#ifndef TCPFLASH_MANY_PROCESS_H_
#define TCPFLASH_MANY_PROCESS_H_

#include <cstdio>

constexpr int MAX_CHILDREN = 256;
constexpr int CHILD_ERROR_SIZE = 128;
// Longest path the platform layer hands out or takes.
constexpr int CHILD_PATH_SIZE = 1024;

enum class ChildStream { kOutput, kError };

struct ChildEnd {
  bool normal = false;     // ended by itself with an exit status
  int status = 0;          // that status, 0-255 (tcpflash's -1 is 255), when normal
  unsigned long code = 0;  // otherwise: the signal (POSIX) or the exit code (Windows)
};

class ChildEvents {
 public:
  virtual ~ChildEvents() = default;
  // Output of the child in slot arrived: data[0,size) with size > 0, valid
  // only during the call, bytes exactly as the child wrote them.
  virtual void OnOutput(int slot, ChildStream stream, const char* data, int size) = 0;
  // The child in slot has ended and all its output was delivered before;
  // the slot is free again.
  virtual void OnEnd(int slot, const ChildEnd& end) = 0;
};

// Starts program (a path) with argv (argv[0] its name, null-terminated) in
// the working directory of this process, standard input from the null
// device, standard output and error each in a pipe to this process. The
// child neither inherits this process's other pipes and logs nor gets the
// terminal's Ctrl-C. slot must lie in [0,MAX_CHILDREN) and be free. Returns
// 0, or -1 with a reason in error[0,CHILD_ERROR_SIZE).
int StartChild(int slot, const char* program, const char* const* argv, char* error);

// Waits at most timeoutMs for output or ends of the running children and
// delivers what came to events; also returns early once a stop was
// requested. Returns the number of events delivered, 0 when none came.
int WaitForChildren(int timeoutMs, ChildEvents* events);

// Ends the child in slot at once, if it still runs; its end is delivered by
// WaitForChildren as usual.
void KillChild(int slot);

// Writes how an abnormal end looks on this platform ("signal 9", "exit
// code 0xc0000005") to text[0,size).
void DescribeAbnormalEnd(unsigned long code, char* text, int size);

// From now on Ctrl-C and a termination request (SIGTERM, and SIGHUP when
// the terminal goes away; Ctrl-Break and a closed console on Windows) only
// count up StopRequests(), and writing to a closed pipe fails instead of
// ending the process.
void InstallStopHandler();
int StopRequests();

// True when standard output is a terminal that takes cursor movements
// (on Windows this switches them on). columns and rows receive its size,
// 80 x 24 when it cannot be told.
bool OpenLiveConsole(int* columns, int* rows);

// Writes the path of the tcpflash executable beside the running program to
// path[0,CHILD_PATH_SIZE); argv0 helps where the system cannot tell the
// program's own path. Returns 0, or -1 when no path fits.
int SiblingToolPath(const char* argv0, char* path);

// Creates (or truncates) path for binary writing, not inherited by
// children. Returns the stream, or null.
FILE* CreateLogFile(const char* path);

// Renames the closed file from to the path to in one step, replacing a file
// that is there: a reader of to finds the old file or the new one whole,
// never a mix. Both must lie on the same volume. Returns 0, or -1 (errno
// set where the platform says why).
int MoveIntoPlace(const char* from, const char* to);

#endif  // TCPFLASH_MANY_PROCESS_H_
