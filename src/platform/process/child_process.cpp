#include "platform/process/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "base/descriptor.h"

extern char** environ;

namespace nimbra {
namespace {

// Large enough that a chatty child needs few reads; small enough for the stack.
constexpr size_t kReadChunk = 64 * 1024;

struct Pipe {
  Descriptor read;
  Descriptor write;
  // Both ends close-on-exec: another thread's child must never inherit them, or our read
  // would wait for that child too. The dup2 into the child's 1 and 2 clears the flag there.
  bool open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read.reset(fds[0]);
    write.reset(fds[1]);
    return true;
  }
};

// Reads both pipes until both are at their end, whichever the child fills first.
void drain(Pipe& out, Pipe& err, std::string& outText, std::string* errText) {
  char buffer[kReadChunk];
  pollfd fds[2] = {{out.read.get(), POLLIN, 0}, {err.read.get(), POLLIN, 0}};
  std::string* sinks[2] = {&outText, errText};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {
        fds[i].fd = -1;  // poll ignores negative descriptors
        --open;
        continue;
      }
      if (sinks[i]) sinks[i]->append(buffer, static_cast<size_t>(n));
    }
  }
}

}  // namespace

ChildOutcome runChild(const std::string& program, const std::vector<std::string>& arguments,
                      ChildOptions options) {
  ChildOutcome outcome;
  Pipe out, err;
  if (!out.open() || !err.open()) {
    outcome.launchError = errno;
    return outcome;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out.write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write.get(), STDERR_FILENO);

  std::vector<char*> argv;
  argv.reserve(arguments.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  // glibc's posix_spawn reports a failed exec (missing program, no permission) as its result.
  const int spawnError =
      ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawnError != 0) {
    outcome.launchError = spawnError;
    return outcome;
  }
  outcome.launched = true;

  // Our copies of the write ends must go, or the reads would never see the end.
  out.write.reset();
  err.write.reset();
  drain(out, err, outcome.out, options.keepStandardError ? &outcome.err : nullptr);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return outcome;
  }
  outcome.exitedZero = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return outcome;
}

}  // namespace nimbra
