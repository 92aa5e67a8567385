#include "support/unprivileged.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <utility>

#include "base/fd_io.h"

namespace nimbra::test {

unsigned nobodyUid() {
  const passwd* pw = ::getpwnam("nobody");
  return pw ? pw->pw_uid : 65534;
}

unsigned nobodyGid() {
  const passwd* pw = ::getpwnam("nobody");
  return pw ? pw->pw_gid : 65534;
}

namespace {

// Runs `prepare` and then, when it answered "", `body` in a forked child; answers what the child
// wrote back, or how it died.
std::string runForked(
    const std::function<std::string()>& prepare, const std::function<std::string()>& body) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "pipe failed";
  pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(pipeFds[0]);
    std::string failure = prepare();
    if (failure.empty()) failure = body();
    (void)writeAll(pipeFds[1], failure);
    ::close(pipeFds[1]);
    ::_exit(failure.empty() ? 0 : 1);
  }
  ::close(pipeFds[1]);
  std::string report;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
    report.append(buffer, static_cast<size_t>(n));
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

}  // namespace

std::string runUnprivileged(const std::function<std::string()>& body) {
  const uid_t uid = nobodyUid();
  const gid_t gid = nobodyGid();
  return runForked(
      [&]() -> std::string {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
          return std::string("cannot drop privileges: ") + std::strerror(errno);
        }
        return ::geteuid() == 0 ? "still root after dropping privileges" : "";
      },
      body);
}

std::string runInPrivateMountNamespace(const std::function<std::string()>& body) {
  return runForked(
      []() -> std::string {
        // Private all the way down, so that no mount made here propagates back to the machine.
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
          return std::string("no private mount namespace: ") + std::strerror(errno);
        }
        return "";
      },
      body);
}

std::string bindMount(const std::string& from, const std::string& onto, bool readOnly) {
  if (::mount(from.c_str(), onto.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
      (readOnly && ::mount(nullptr, onto.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                       nullptr) != 0)) {
    return "cannot mount " + from + " on " + onto + ": " + std::strerror(errno);
  }
  return "";
}

std::string useMachineFolders(
    const std::string& scratch, const std::string& applications, const std::string& library) {
  const auto failed = [](const std::string& what) { return what + ": " + std::strerror(errno); };
  if (::mount("nimbra-root", scratch.c_str(), "tmpfs", 0, nullptr) != 0)
    return failed("cannot mount a tmpfs on " + scratch);
  DIR* top = ::opendir("/");
  if (!top) return failed("cannot list /");
  std::string problem;
  while (const dirent* entry = ::readdir(top)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == "Applications" || name == "Library" ||
        !problem.empty())
      continue;
    const std::string from = "/" + name, onto = scratch + "/" + name;
    struct stat info {};
    char link[PATH_MAX];
    if (::lstat(from.c_str(), &info) != 0) continue;
    if (S_ISLNK(info.st_mode)) {
      const ssize_t length = ::readlink(from.c_str(), link, sizeof link - 1);
      if (length < 0 || ::symlink(std::string(link, size_t(length)).c_str(), onto.c_str()) != 0)
        problem = failed("cannot copy the link " + from);
    } else if (S_ISDIR(info.st_mode)) {
      if (::mkdir(onto.c_str(), 0755) != 0 ||
          ::mount(from.c_str(), onto.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        problem = failed("cannot mount " + from + " on " + onto);
    }
  }
  ::closedir(top);
  const std::pair<std::string, std::string> folders[] = {
      {applications, "/Applications"}, {library, "/Library"}};
  for (const auto& [folder, name] : folders) {
    if (problem.empty() && ::mkdir((scratch + name).c_str(), 0755) != 0)
      problem = failed("cannot make " + scratch + name);
    if (problem.empty()) problem = bindMount(folder, scratch + name);
  }
  if (problem.empty() && (::chroot(scratch.c_str()) != 0 || ::chdir("/") != 0))
    problem = failed("cannot move into " + scratch);
  return problem;
}

}  // namespace nimbra::test
