// SPDX-License-Identifier: BSD-3-Clause
// Interrupts on POSIX (SIGINT, SIGTERM, SIGHUP): the signal handler only writes the
// signal's number to a pipe; a thread of its own reads the pipe and runs the handler,
// where locking and posting are allowed.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>

#include "platform/interrupt.h"

namespace vornek::platform {
namespace {

int pipe_fds[2] = {-1, -1};
std::mutex handler_mutex;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::function<void(int)>& Handler() {
  static std::function<void(int)> handler;
  return handler;
}

extern "C" void OnSignal(int signal) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t ignored = ::write(pipe_fds[1], &byte, 1);
  errno = saved;
}

void Watch() {
  unsigned char byte;
  for (;;) {
    const ssize_t got = ::read(pipe_fds[0], &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    // Under the lock, so that clearing the handler waits for a call under way.
    std::lock_guard lock(handler_mutex);
    if (Handler()) Handler()(128 + byte);
  }
}

}  // namespace

void SetInterruptHandler(std::function<void(int status)> handler) {
  static std::once_flag started;
  std::call_once(started, [] {
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return;
    // Never on a standard stream's number, should one be closed: a line written there
    // would be read as a signal.
    for (int& fd : pipe_fds) {
      if (fd > 2) continue;
      const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
      ::close(fd);
      fd = moved;
    }
    if (pipe_fds[0] < 0 || pipe_fds[1] < 0) return;
    std::thread(Watch).detach();  // lives as long as the program
  });
  const bool install = handler != nullptr;
  {
    std::lock_guard lock(handler_mutex);
    Handler() = std::move(handler);
  }
  struct sigaction action {};
  action.sa_handler = install && pipe_fds[1] >= 0 ? OnSignal : SIG_DFL;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

void IgnoreWriteSignals() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGPIPE, &action, nullptr);
  ::sigaction(SIGXFSZ, &action, nullptr);
}

void GuardStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Opened in turn, so each takes the lowest free number: the one that is closed.
    const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) ::close(null);
  }
}

}  // namespace vornek::platform
