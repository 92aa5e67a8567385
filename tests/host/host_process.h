#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <fstream>
#include <thread>
#include <tuple>

#include "base/fd_io.h"
#include "host/serve/serve_frames.h"

namespace nimbra::test {

// The built `nimbra` program as a child process, stdin and stdout on pipes. Its stderr goes to
// an unlinked temporary file, so a chatty child never blocks on it. The child is killed when the
// object goes away. Every wait gives up after 30 seconds, failing the test instead of hanging it.
// `environment` holds NAME=VALUE entries that replace or add to the test's own environment.
class HostProcess {
 public:
  explicit HostProcess(
      std::vector<std::string> arguments, const std::vector<std::string>& environment = {}) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    EXPECT_EQ(::pipe2(in, O_CLOEXEC) | ::pipe2(out, O_CLOEXEC), 0) << "cannot make pipes";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ::fileno(errors_), STDERR_FILENO);
    // env(1) sets the variables and then becomes the host, keeping its pid.
    arguments.insert(arguments.begin(), NIMBRA_HOST_PATH);
    arguments.insert(arguments.begin(), environment.begin(), environment.end());
    arguments.insert(arguments.begin(), "/usr/bin/env");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
  }
  ~HostProcess() {
    if (pid_ > 0 && !status_) ::kill(pid_, SIGKILL);
    wait();
    closeInput();
    ::close(output_);
    std::fclose(errors_);
  }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  void send(std::string_view bytes) {
    EXPECT_TRUE(writeAll(input_, bytes)) << "cannot write to nimbra";
  }
  void send(const Frame& frame) {
    const std::vector<uint8_t> bytes = encodeFrame(frame);
    send(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  // Writes `piece` (at most PIPE_BUF bytes, so the write is whole or nothing) once the host can
  // take it within `timeoutMs`; false when it could not.
  bool trySend(std::string_view piece, int timeoutMs) {
    if (piece.size() > PIPE_BUF) {
      ADD_FAILURE() << "a piece of " << piece.size() << " bytes could block";
      return false;
    }
    pollfd room{input_, POLLOUT, 0};
    return ::poll(&room, 1, timeoutMs) > 0 &&
           ::write(input_, piece.data(), piece.size()) == ssize_t(piece.size());
  }
  void closeInput() { ::close(std::exchange(input_, -1)); }
  // Nobody reads the host's stdout any more: its next write fails (with SIGPIPE unless ignored).
  void closeOutput() { ::close(std::exchange(output_, -1)); }
  pid_t pid() const { return pid_; }

  // One stdout line without its newline, or one whole frame; nullopt on timeout.
  std::optional<std::string> readLine() {
    size_t end;
    while ((end = pending_.find('\n')) == std::string::npos) {
      if (!fill(pending_.size() + 1)) return std::nullopt;
    }
    std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return line;
  }
  std::optional<Frame> readFrame() {
    if (!fill(kFrameHeaderSize)) return std::nullopt;
    size_t length = 0;
    for (size_t i = kFrameHeaderSize; i-- > 0;)
      length = length << 8 | static_cast<uint8_t>(pending_[i]);
    if (!fill(kFrameHeaderSize + length)) return std::nullopt;
    Decoded<Frame> frame = decodeFrameBody(
        std::span(reinterpret_cast<const uint8_t*>(pending_.data()) + kFrameHeaderSize, length));
    pending_.erase(0, kFrameHeaderSize + length);
    EXPECT_TRUE(frame) << "nimbra wrote an undecodable frame: " << frame.error;
    return frame.value;
  }

  // The exit status (128 + signal number when killed), or nullopt on timeout.
  std::optional<int> wait() {
    for (int waited = 0, raw = 0; pid_ > 0 && !status_ && waited < kTimeoutMs; waited += 5) {
      if (::waitpid(pid_, &raw, WNOHANG) != pid_)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      else
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
    return status_;
  }
  // After wait(): the stdout not read yet. Any time: stderr so far.
  std::string restOfStdout() {
    while (fill(pending_.size() + 1)) continue;
    return std::exchange(pending_, std::string());
  }
  std::string stderrText() {
    std::ifstream in("/proc/self/fd/" + std::to_string(::fileno(errors_)));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  // Reads stdout until `wanted` bytes are pending; false on timeout or the end of output.
  bool fill(size_t wanted) {
    char buffer[65536];
    for (pollfd ready{output_, POLLIN, 0}; pending_.size() < wanted;) {
      const ssize_t got =
          ::poll(&ready, 1, kTimeoutMs) > 0 ? ::read(output_, buffer, sizeof buffer) : 0;
      if (got <= 0) return false;
      pending_.append(buffer, static_cast<size_t>(got));
    }
    return true;
  }

  static constexpr int kTimeoutMs = 30000;
  pid_t pid_ = -1;
  int input_ = -1, output_ = -1;
  std::FILE* errors_ = std::tmpfile();
  std::string pending_;
  std::optional<int> status_;
};

// Exit status, stdout and stderr.
using HostRun = std::tuple<int, std::string, std::string>;

// Runs `nimbra ARGUMENTS` with `input` on stdin to its end.
inline HostRun runHost(std::vector<std::string> arguments, std::string_view input = "",
    const std::vector<std::string>& environment = {}) {
  HostProcess host(std::move(arguments), environment);
  host.send(input);
  host.closeInput();
  const std::optional<int> status = host.wait();
  return {status.value_or(-1), host.restOfStdout(), host.stderrText()};
}

}  // namespace nimbra::test
