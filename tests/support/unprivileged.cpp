#include "support/unprivileged.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace nimbra::test {
namespace {

constexpr unsigned kFallbackNobody = 65534;

const passwd* nobody() { return ::getpwnam("nobody"); }

void writeAll(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace

unsigned nobodyUid() {
  const passwd* pw = nobody();
  return pw ? pw->pw_uid : kFallbackNobody;
}

unsigned nobodyGid() {
  const passwd* pw = nobody();
  return pw ? pw->pw_gid : kFallbackNobody;
}

std::string runUnprivileged(const std::function<std::string()>& body) {
  const uid_t uid = nobodyUid();
  const gid_t gid = nobodyGid();
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "pipe failed";
  pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(pipeFds[0]);
    std::string failure;
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
      failure = std::string("cannot drop privileges: ") + std::strerror(errno);
    } else if (::geteuid() == 0) {
      failure = "still root after dropping privileges";
    } else {
      failure = body();
    }
    writeAll(pipeFds[1], failure);
    ::close(pipeFds[1]);
    ::_exit(failure.empty() ? 0 : 1);
  }
  ::close(pipeFds[1]);
  std::string report;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) return "child killed by signal " + std::to_string(WTERMSIG(status));
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0 && report.empty()) {
    return "child exited with " + std::to_string(WEXITSTATUS(status));
  }
  return report;
}

}  // namespace nimbra::test
