#include "socket_api.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// Identity of the file a descriptor names; st_ino 0 when it is closed.
struct stat Identity(int fd) {
  struct stat st;
  std::memset(&st, 0, sizeof st);
  if (fstat(fd, &st) != 0) std::memset(&st, 0, sizeof st);
  return st;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// In a child process: closes the descriptors in closed, reserves the
// standard streams and checks the outcome. The exit code says what went
// wrong: 0 nothing, 1 wrong result, 2 a closed one is not /dev/null, 3 an
// open one was replaced, 4 a new socket took a standard descriptor.
int RunInChild(const std::vector<int>& closed) {
  struct stat before[3];
  for (int fd = 0; fd <= 2; ++fd) before[fd] = Identity(fd);
  for (int fd : closed) close(fd);
  const int opened = ReserveStandardStreams();
  struct stat devNull;
  if (stat("/dev/null", &devNull) != 0) return 5;
  if (opened != static_cast<int>(closed.size())) return 1;
  for (int fd = 0; fd <= 2; ++fd) {
    bool wasClosed = false;
    for (int c : closed) wasClosed = wasClosed || c == fd;
    if (wasClosed && !SameFile(Identity(fd), devNull)) return 2;
    if (!wasClosed && !SameFile(Identity(fd), before[fd])) return 3;
  }
  const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s != INVALID_SOCKET && s <= 2) return 4;
  return 0;
}

TEST(SocketApiTest, ReserveStandardStreamsFillsOnlyTheClosedOnes) {
  const std::vector<int> cases[] = {{}, {0}, {1}, {2}, {0, 2}, {0, 1, 2}};
  for (const std::vector<int>& closed : cases) {
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) _exit(RunInChild(closed));
    int status = 0;
    pid_t waited;
    do {
      waited = waitpid(child, &status, 0);
    } while (waited == -1 && errno == EINTR);
    ASSERT_EQ(waited, child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "closed " << closed.size() << " descriptors, first "
                                      << (closed.empty() ? -1 : closed[0]);
  }
}

TEST(SocketApiTest, NonBlockingModeAndWouldBlock) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  u_long on = 1;
  ASSERT_EQ(ioctlsocket(pair[0], FIONBIO, &on), 0);
  EXPECT_NE(fcntl(pair[0], F_GETFL) & O_NONBLOCK, 0);
  // Nothing waiting: a read that would have to wait fails with that reason.
  char byte;
  EXPECT_EQ(recv(pair[0], &byte, 1, 0), -1);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  u_long off = 0;
  ASSERT_EQ(ioctlsocket(pair[0], FIONBIO, &off), 0);
  EXPECT_EQ(fcntl(pair[0], F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(ioctlsocket(pair[0], FIONREAD, &on), SOCKET_ERROR) << "only FIONBIO is offered";
  closesocket(pair[0]);
  closesocket(pair[1]);
}

}  // namespace
