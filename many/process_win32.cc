// The process layer on Windows (the contract: many/process.h):
// CreateProcess with anonymous pipes. Anonymous pipes cannot be waited on
// together, so each pipe has a reader thread that hands one buffer at a time
// to the main thread under a lock.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h.
#include <fcntl.h>
#include <io.h>

#include <cstring>

#include "many/process.h"

namespace {

constexpr int kReadSize = 4096;
// How soon an ended pipe's process is looked for again.
constexpr DWORD kReapPollMs = 10;
// Bound on joining a reader thread that has already seen its pipe end.
constexpr DWORD kJoinMs = 5000;
// Longest command line CreateProcess takes.
constexpr int kCommandLineSize = 32768;

struct Pipe {
  HANDLE read = nullptr;
  HANDLE thread = nullptr;
  char buffer[kReadSize];
  int size = 0;  // bytes in buffer, handed over while full
  bool full = false;
  bool ended = false;  // the reader saw the pipe's end and has left
};

struct Child {
  bool used = false;
  HANDLE process = nullptr;
  Pipe pipes[2];
};

Child gChildren[MAX_CHILDREN];
CRITICAL_SECTION gLock;
CONDITION_VARIABLE gChanged;
bool gLockReady = false;
volatile LONG gStops = 0;

void EnsureLock() {
  if (gLockReady) return;
  InitializeCriticalSection(&gLock);
  InitializeConditionVariable(&gChanged);
  gLockReady = true;
}

// Reads one pipe until it ends; each piece waits in the pipe's buffer until
// the main thread has delivered it.
DWORD WINAPI ReadPipe(LPVOID parameter) {
  Pipe* pipe = static_cast<Pipe*>(parameter);
  for (;;) {
    DWORD got = 0;
    const BOOL ok = ReadFile(pipe->read, pipe->buffer, kReadSize, &got, nullptr);
    EnterCriticalSection(&gLock);
    if (!ok || got == 0) {
      pipe->ended = true;
      WakeAllConditionVariable(&gChanged);
      LeaveCriticalSection(&gLock);
      return 0;
    }
    pipe->size = static_cast<int>(got);
    pipe->full = true;
    WakeAllConditionVariable(&gChanged);
    while (pipe->full) SleepConditionVariableCS(&gChanged, &gLock, INFINITE);
    LeaveCriticalSection(&gLock);
  }
}

// Appends arg to line[*len, kCommandLineSize) quoted so that the C runtime
// of the child splits it back unchanged. Returns 0, or -1 when it does not fit.
int AppendQuoted(char* line, int* len, const char* arg) {
  int n = *len;
  auto put = [&](char c) {
    if (n >= kCommandLineSize - 1) return false;
    line[n++] = c;
    return true;
  };
  if (n > 0 && !put(' ')) return -1;
  const bool plain = arg[0] != '\0' && std::strpbrk(arg, " \t\n\v\"") == nullptr;
  if (plain) {
    for (const char* p = arg; *p != '\0'; ++p) {
      if (!put(*p)) return -1;
    }
  } else {
    if (!put('"')) return -1;
    for (const char* p = arg;; ++p) {
      int backslashes = 0;
      while (*p == '\\') {
        ++p;
        ++backslashes;
      }
      // Backslashes count double before a quote, the closing one included.
      const int copies = *p == '\0'  ? 2 * backslashes
                         : *p == '"' ? 2 * backslashes + 1
                                     : backslashes;
      for (int i = 0; i < copies; ++i) {
        if (!put('\\')) return -1;
      }
      if (*p == '\0') break;
      if (!put(*p)) return -1;
    }
    if (!put('"')) return -1;
  }
  line[n] = '\0';
  *len = n;
  return 0;
}

void CloseIf(HANDLE* handle) {
  if (*handle != nullptr && *handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
  *handle = nullptr;
}

// Delivers the end of the child in slot when both its pipes ended and its
// process is gone; called with the lock held. Returns 1 when it did.
int TryReap(int slot, ChildEvents* events) {
  Child& child = gChildren[slot];
  if (!child.used || !child.pipes[0].ended || !child.pipes[1].ended) return 0;
  if (WaitForSingleObject(child.process, 0) != WAIT_OBJECT_0) return 0;
  DWORD code = 0;
  GetExitCodeProcess(child.process, &code);
  ChildEnd end;
  // A C program's small negative status (tcpflash's -1) reads as 255, as on POSIX.
  if (code <= 255 || code >= 0xFFFFFF00UL) {
    end.normal = true;
    end.status = static_cast<int>(code & 0xFF);
  } else {
    end.code = code;
  }
  for (Pipe& pipe : child.pipes) {
    WaitForSingleObject(pipe.thread, kJoinMs);
    CloseIf(&pipe.thread);
    CloseIf(&pipe.read);
  }
  CloseIf(&child.process);
  child.used = false;
  LeaveCriticalSection(&gLock);
  events->OnEnd(slot, end);
  EnterCriticalSection(&gLock);
  return 1;
}

BOOL WINAPI OnConsoleStop(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  InterlockedIncrement(&gStops);
  EnterCriticalSection(&gLock);
  WakeAllConditionVariable(&gChanged);
  LeaveCriticalSection(&gLock);
  return TRUE;
}

}  // namespace

int StartChild(int slot, const char* program, const char* const* argv, char* error) {
  EnsureLock();
  static char line[kCommandLineSize];
  int len = 0;
  line[0] = '\0';
  for (const char* const* arg = argv; *arg != nullptr; ++arg) {
    if (AppendQuoted(line, &len, *arg) != 0) {
      std::snprintf(error, CHILD_ERROR_SIZE, "command line too long");
      return -1;
    }
  }
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE reads[2] = {nullptr, nullptr};
  HANDLE writes[2] = {nullptr, nullptr};
  HANDLE nul = INVALID_HANDLE_VALUE;
  bool ok = true;
  for (int i = 0; i < 2 && ok; ++i) {
    ok = CreatePipe(&reads[i], &writes[i], &inherit, 0) != 0 &&
         SetHandleInformation(reads[i], HANDLE_FLAG_INHERIT, 0) != 0;
  }
  if (ok) {
    nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                      OPEN_EXISTING, 0, nullptr);
    ok = nul != INVALID_HANDLE_VALUE;
  }
  PROCESS_INFORMATION info = {};
  if (ok) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = writes[0];
    startup.hStdError = writes[1];
    // Only this child's pipe ends are inheritable while it starts: the
    // children are started one after another by this one thread. A process
    // group of its own keeps the console's Ctrl-C from it.
    ok = CreateProcessA(program, line, nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                        nullptr, &startup, &info) != 0;
    if (!ok) {
      std::snprintf(error, CHILD_ERROR_SIZE, "%s: error %lu", program, GetLastError());
    }
  } else {
    std::snprintf(error, CHILD_ERROR_SIZE, "no pipe: error %lu", GetLastError());
  }
  CloseIf(&nul);
  for (HANDLE& w : writes) CloseIf(&w);
  if (!ok) {
    for (HANDLE& r : reads) CloseIf(&r);
    return -1;
  }
  CloseHandle(info.hThread);
  Child& child = gChildren[slot];
  child.process = info.hProcess;
  for (int i = 0; i < 2; ++i) {
    Pipe& pipe = child.pipes[i];
    pipe.read = reads[i];
    pipe.size = 0;
    pipe.full = false;
    pipe.ended = false;
    pipe.thread = CreateThread(nullptr, 64 * 1024, ReadPipe, &pipe,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    // Without a reader the pipe counts as ended; the child is still waited for.
    if (pipe.thread == nullptr) pipe.ended = true;
  }
  child.used = true;
  return 0;
}

int WaitForChildren(int timeoutMs, ChildEvents* events) {
  EnsureLock();
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  const LONG stopsBefore = gStops;
  int delivered = 0;
  EnterCriticalSection(&gLock);
  for (;;) {
    bool reapPending = false;
    for (int slot = 0; slot < MAX_CHILDREN; ++slot) {
      Child& child = gChildren[slot];
      if (!child.used) continue;
      for (int stream = 0; stream < 2; ++stream) {
        Pipe& pipe = child.pipes[stream];
        if (!pipe.full) continue;
        // The reader waits until full is cleared: the buffer is ours meanwhile.
        LeaveCriticalSection(&gLock);
        events->OnOutput(slot, stream == 0 ? ChildStream::kOutput : ChildStream::kError,
                         pipe.buffer, pipe.size);
        EnterCriticalSection(&gLock);
        pipe.full = false;
        WakeAllConditionVariable(&gChanged);
        ++delivered;
      }
      if (child.pipes[0].ended && child.pipes[1].ended) {
        if (TryReap(slot, events) == 1) {
          ++delivered;
        } else {
          reapPending = true;
        }
      }
    }
    const ULONGLONG now = GetTickCount64();
    if (delivered > 0 || gStops != stopsBefore || now >= deadline) break;
    DWORD wait = static_cast<DWORD>(deadline - now);
    if (reapPending && wait > kReapPollMs) wait = kReapPollMs;
    SleepConditionVariableCS(&gChanged, &gLock, wait);
  }
  LeaveCriticalSection(&gLock);
  return delivered;
}

void KillChild(int slot) {
  if (gChildren[slot].used) TerminateProcess(gChildren[slot].process, 1);
}

void DescribeAbnormalEnd(unsigned long code, char* text, int size) {
  std::snprintf(text, static_cast<size_t>(size), "exit code 0x%08lx", code);
}

void InstallStopHandler() {
  EnsureLock();
  SetConsoleCtrlHandler(OnConsoleStop, TRUE);
}

int StopRequests() { return static_cast<int>(gStops); }

bool OpenLiveConsole(int* columns, int* rows) {
  *columns = 80;
  *rows = 24;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == nullptr || out == INVALID_HANDLE_VALUE || GetConsoleMode(out, &mode) == 0) {
    return false;
  }
  // Cursor movements by escape sequences, as on other terminals.
  if (SetConsoleMode(out, mode | 0x0004 /* ENABLE_VIRTUAL_TERMINAL_PROCESSING */) == 0) {
    return false;
  }
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(out, &info) != 0) {
    *columns = info.srWindow.Right - info.srWindow.Left + 1;
    *rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  }
  return true;
}

int SiblingToolPath(const char* argv0, char* path) {
  char self[CHILD_PATH_SIZE];
  DWORD len = GetModuleFileNameA(nullptr, self, sizeof self);
  if (len == 0 || len >= sizeof self) {
    len = static_cast<DWORD>(std::strlen(argv0));
    if (len >= sizeof self) return -1;
    std::memcpy(self, argv0, len);
  }
  self[len] = '\0';
  int dirLen = 0;
  for (DWORD i = 0; i < len; ++i) {
    if (self[i] == '\\' || self[i] == '/') dirLen = static_cast<int>(i) + 1;
  }
  const int written = std::snprintf(path, CHILD_PATH_SIZE, "%.*stcpflash.exe", dirLen, self);
  return written > 0 && written < CHILD_PATH_SIZE ? 0 : -1;
}

FILE* CreateLogFile(const char* path) {
  // Not inheritable: a started child must not hold the logs open.
  HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

int MoveIntoPlace(const char* from, const char* to) {
  // A reader that holds the old report open without delete sharing (most
  // programs open files so) blocks the replacement for as long as it reads:
  // a few tries, a bounded wait.
  constexpr int kTries = 50;
  constexpr DWORD kPauseMs = 20;
  for (int i = 0; i < kTries; ++i) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) return 0;
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
    Sleep(kPauseMs);
  }
  return -1;
}
