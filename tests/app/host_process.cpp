#include "host_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace nimbra::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

int millisecondsUntil(SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
  return std::max(0, static_cast<int>(left.count()));
}

SteadyClock::time_point after(double seconds) {
  return SteadyClock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
}

}  // namespace

HostProcess::HostProcess(const std::vector<std::string>& arguments) {
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  std::vector<std::string> argv{NIMBRA_HOST_PATH};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (auto& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  const int failed = ::posix_spawn(&pid_, NIMBRA_HOST_PATH, &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    ADD_FAILURE() << "cannot start " << NIMBRA_HOST_PATH << ": " << std::strerror(failed);
    pid_ = -1;
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  input_ = in[1];
  output_ = out[0];
  errorDrain_ = std::thread([this, fd = err[0]] {
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
      std::lock_guard lock(errorMutex_);
      if (got > 0) errorText_.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
  });
}

HostProcess::~HostProcess() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  closeInput();
  if (errorDrain_.joinable()) errorDrain_.join();
  if (output_ >= 0) ::close(output_);
}

void HostProcess::send(std::string_view bytes) {
  ASSERT_GE(input_, 0) << "input already closed";
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(input_, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    ASSERT_GT(wrote, 0) << "cannot write to nimbra: " << std::strerror(errno);
    bytes.remove_prefix(static_cast<size_t>(wrote));
  }
}

void HostProcess::sendFrame(const Frame& frame) {
  const std::vector<uint8_t> bytes = encodeFrame(frame);
  send(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void HostProcess::closeInput() {
  if (input_ >= 0) ::close(input_);
  input_ = -1;
}

bool HostProcess::fillStdout(size_t wanted, double timeoutSeconds) {
  const auto deadline = after(timeoutSeconds);
  while (pendingOutput_.size() < wanted) {
    pollfd ready{output_, POLLIN, 0};
    const int polled = ::poll(&ready, 1, millisecondsUntil(deadline));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    char buffer[65536];
    const ssize_t got = ::read(output_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    pendingOutput_.append(buffer, static_cast<size_t>(got));
  }
  return true;
}

std::optional<std::string> HostProcess::readLine(double timeoutSeconds) {
  const auto deadline = after(timeoutSeconds);
  size_t newline;
  while ((newline = pendingOutput_.find('\n')) == std::string::npos) {
    if (!fillStdout(pendingOutput_.size() + 1, millisecondsUntil(deadline) / 1000.0)) return std::nullopt;
  }
  std::string line = pendingOutput_.substr(0, newline);
  pendingOutput_.erase(0, newline + 1);
  return line;
}

std::optional<Frame> HostProcess::readFrame(double timeoutSeconds) {
  if (!fillStdout(kFrameHeaderSize, timeoutSeconds)) return std::nullopt;
  uint32_t length = 0;
  for (size_t i = 0; i < kFrameHeaderSize; ++i) {
    length |= uint32_t{static_cast<uint8_t>(pendingOutput_[i])} << (8 * i);
  }
  if (!fillStdout(kFrameHeaderSize + length, 30)) {
    ADD_FAILURE() << "frame of " << length << " bytes cut short";
    return std::nullopt;
  }
  const auto* body = reinterpret_cast<const uint8_t*>(pendingOutput_.data()) + kFrameHeaderSize;
  Decoded<Frame> frame = decodeFrameBody(std::span(body, length));
  pendingOutput_.erase(0, kFrameHeaderSize + length);
  EXPECT_TRUE(frame) << "nimbra wrote an undecodable frame: " << frame.error;
  return frame.value;
}

std::optional<int> HostProcess::wait(double timeoutSeconds) {
  const auto deadline = after(timeoutSeconds);
  while (!status_ && pid_ > 0) {
    int raw = 0;
    if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    } else if (SteadyClock::now() >= deadline) {
      return std::nullopt;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return status_;
}

std::string HostProcess::restOfStdout() {
  // With the child gone, the pipe ends once its contents are read.
  while (fillStdout(pendingOutput_.size() + 1, 5)) {
  }
  return std::exchange(pendingOutput_, std::string());
}

std::string HostProcess::stderrText() {
  if (status_ && errorDrain_.joinable()) errorDrain_.join();
  std::lock_guard lock(errorMutex_);
  return errorText_;
}

HostRun runHost(const std::vector<std::string>& arguments, std::string_view input) {
  HostProcess host(arguments);
  host.send(input);
  host.closeInput();
  HostRun run;
  const std::optional<int> status = host.wait(60);
  if (!status) {
    ADD_FAILURE() << "nimbra did not finish within a minute";
    return run;
  }
  return HostRun{*status, host.restOfStdout(), host.stderrText()};
}

}  // namespace nimbra::test
