#pragma once

#include <sys/types.h>

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/serve_frames.h"

namespace nimbra::test {

// The built `nimbra` program running as a child process with stdin and stdout on pipes;
// stderr is collected in the background so a chatty child never blocks. The child is killed
// when the object goes away.
class HostProcess {
 public:
  explicit HostProcess(const std::vector<std::string>& arguments);
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  void send(std::string_view bytes);
  void sendFrame(const Frame& frame);
  void closeInput();

  // One stdout line without its newline, or one whole frame; nullopt on timeout.
  std::optional<std::string> readLine(double timeoutSeconds = 30);
  std::optional<Frame> readFrame(double timeoutSeconds = 30);

  // The exit status (128 + signal number when killed), or nullopt on timeout.
  std::optional<int> wait(double timeoutSeconds = 30);
  // After wait(): the stdout not read yet, and all of stderr.
  std::string restOfStdout();
  std::string stderrText();

 private:
  bool fillStdout(size_t wanted, double timeoutSeconds);

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string pendingOutput_;
  std::thread errorDrain_;
  std::mutex errorMutex_;
  std::string errorText_;
  std::optional<int> status_;
};

struct HostRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `nimbra ARGUMENTS` with `input` on stdin to its end.
HostRun runHost(const std::vector<std::string>& arguments, std::string_view input = "");

}  // namespace nimbra::test
