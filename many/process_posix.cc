// The process layer on POSIX (the contract: many/process.h): posix_spawn,
// pipes watched with poll, waitpid, sigaction.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "many/process.h"

#ifndef __GLIBC__
extern char** environ;  // glibc declares it in unistd.h
#endif

namespace {

struct Child {
  pid_t pid = -1;           // -1: slot free
  int pipes[2] = {-1, -1};  // standard output, standard error; -1 once at end
};

Child gChildren[MAX_CHILDREN];
volatile sig_atomic_t gStops = 0;

constexpr int kReadSize = 4096;
// How soon a child whose pipes are closed is looked for again.
constexpr int kReapPollMs = 10;

void OnStopSignal(int) { gStops = gStops + 1; }

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// Creates a pipe whose two ends are closed in any started program.
int MakePipe(int fds[2]) {
  if (pipe(fds) != 0) return -1;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return 0;
}

// Reaps the child in slot when its pipes are closed and it has ended.
// Returns 1 when it delivered the end, 0 otherwise.
int TryReap(int slot, ChildEvents* events) {
  Child& child = gChildren[slot];
  if (child.pid < 0 || child.pipes[0] >= 0 || child.pipes[1] >= 0) return 0;
  int status = 0;
  pid_t got;
  do {
    got = waitpid(child.pid, &status, WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got == 0) return 0;
  ChildEnd end;
  if (got > 0 && WIFEXITED(status)) {
    end.normal = true;
    end.status = WEXITSTATUS(status);
  } else if (got > 0 && WIFSIGNALED(status)) {
    end.code = static_cast<unsigned long>(WTERMSIG(status));
  }
  child.pid = -1;
  events->OnEnd(slot, end);
  return 1;
}

}  // namespace

int StartChild(int slot, const char* program, const char* const* argv, char* error) {
  Child& child = gChildren[slot];
  int out[2];
  int err[2];
  if (MakePipe(out) != 0) {
    std::snprintf(error, CHILD_ERROR_SIZE, "no pipe: %s", std::strerror(errno));
    return -1;
  }
  if (MakePipe(err) != 0) {
    std::snprintf(error, CHILD_ERROR_SIZE, "no pipe: %s", std::strerror(errno));
    close(out[0]);
    close(out[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A process group of its own: the terminal's Ctrl-C reaches only us, and
  // the boards that run are left to finish.
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int failed =
      posix_spawn(&pid, program, &actions, &attributes, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(out[1]);
  close(err[1]);
  if (failed != 0) {
    std::snprintf(error, CHILD_ERROR_SIZE, "%s: %s", program, std::strerror(failed));
    close(out[0]);
    close(err[0]);
    return -1;
  }
  child.pid = pid;
  child.pipes[0] = out[0];
  child.pipes[1] = err[0];
  return 0;
}

int WaitForChildren(int timeoutMs, ChildEvents* events) {
  static pollfd fds[2 * MAX_CHILDREN];
  static int owner[2 * MAX_CHILDREN];
  int count = 0;
  bool reapPending = false;
  for (int slot = 0; slot < MAX_CHILDREN; ++slot) {
    const Child& child = gChildren[slot];
    if (child.pid < 0) continue;
    if (child.pipes[0] < 0 && child.pipes[1] < 0) reapPending = true;
    for (int stream = 0; stream < 2; ++stream) {
      if (child.pipes[stream] < 0) continue;
      fds[count].fd = child.pipes[stream];
      fds[count].events = POLLIN;
      fds[count].revents = 0;
      owner[count] = 2 * slot + stream;
      ++count;
    }
  }
  int delivered = 0;
  if (count > 0 || reapPending) {
    const int wait = reapPending && timeoutMs > kReapPollMs ? kReapPollMs : timeoutMs;
    const int ready = poll(fds, static_cast<nfds_t>(count), wait);
    if (ready < 0 && errno != EINTR) return 0;
    static char buffer[kReadSize];
    for (int i = 0; ready > 0 && i < count; ++i) {
      if (fds[i].revents == 0) continue;
      const int slot = owner[i] / 2;
      const int stream = owner[i] % 2;
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        events->OnOutput(slot, stream == 0 ? ChildStream::kOutput : ChildStream::kError, buffer,
                         static_cast<int>(got));
        ++delivered;
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        CloseFd(&gChildren[slot].pipes[stream]);
      }
    }
  }
  for (int slot = 0; slot < MAX_CHILDREN; ++slot) delivered += TryReap(slot, events);
  return delivered;
}

void KillChild(int slot) {
  if (gChildren[slot].pid > 0) kill(gChildren[slot].pid, SIGKILL);
}

void DescribeAbnormalEnd(unsigned long code, char* text, int size) {
  std::snprintf(text, static_cast<size_t>(size), "signal %lu", code);
}

void InstallStopHandler() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: the wait in poll ends at once.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // The operator's terminal closed: the boards that run still get their
  // end and their record. Children have process groups of their own, so the
  // hang-up reaches none of them. Started under nohup (hang-ups ignored),
  // the run goes on as asked.
  struct sigaction hangup;
  if (sigaction(SIGHUP, nullptr, &hangup) != 0 || hangup.sa_handler != SIG_IGN) {
    sigaction(SIGHUP, &action, nullptr);
  }
  // A console that went away (a closed pipe) must not end the run before
  // the report is written; the children get the default back.
  signal(SIGPIPE, SIG_IGN);
}

int StopRequests() { return gStops; }

bool OpenLiveConsole(int* columns, int* rows) {
  *columns = 80;
  *rows = 24;
  if (isatty(STDOUT_FILENO) == 0) return false;
  const char* term = std::getenv("TERM");
  if (term == nullptr || std::strcmp(term, "dumb") == 0) return false;
  winsize size;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
    *columns = size.ws_col;
    *rows = size.ws_row;
  }
  return true;
}

int SiblingToolPath(const char* argv0, char* path) {
  char self[CHILD_PATH_SIZE];
  ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
  if (len <= 0 || len >= static_cast<ssize_t>(sizeof self - 1)) {
    // Without /proc, the path this program was started by.
    len = static_cast<ssize_t>(std::strlen(argv0));
    if (len >= static_cast<ssize_t>(sizeof self)) return -1;
    std::memcpy(self, argv0, static_cast<size_t>(len));
  }
  self[len] = '\0';
  const char* slash = std::strrchr(self, '/');
  const int dirLen = slash != nullptr ? static_cast<int>(slash - self) + 1 : 0;
  const int written = std::snprintf(path, CHILD_PATH_SIZE, "%.*s%s", dirLen, self,
                                    dirLen > 0 ? "tcpflash" : "./tcpflash");
  return written > 0 && written < CHILD_PATH_SIZE ? 0 : -1;
}

FILE* CreateLogFile(const char* path) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

int MoveIntoPlace(const char* from, const char* to) { return std::rename(from, to) == 0 ? 0 : -1; }
