// The floor the walkers are measured against: what the kernel allows, with nothing of ours.
// N threads share a stack of directories; each takes one, lists it with getdents64 to the end,
// looks at its regular (and untyped) entries with fstatat, and pushes its subdirectories. No
// order, no paths kept, no pruning but kernel file systems' mounts (by device), links never
// followed. Prints the regular files' bytes and the entries seen, as `nimbra call sizeOf` and
// find count them.
//
// Usage: bare_walk ROOT [THREADS]   (THREADS defaults to 2)

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs/mount_table.h"

namespace {

struct Pending {
  int parent;  // an open descriptor the directory is opened relative to; closed by the last
  std::string name;
  dev_t parentDevice;
};

std::mutex lock;
std::condition_variable more;
std::vector<Pending> pending;
size_t busy = 0;
std::atomic<uint64_t> bytes{0}, entries{0};

// Descriptors stay open while their subdirectories wait; a shared count closes each once.
std::mutex countsLock;
std::vector<int> openChildren(1 << 20);

void release(int fd) {
  std::lock_guard guard(countsLock);
  if (--openChildren[static_cast<size_t>(fd)] == 0) ::close(fd);
}

void walkOne(const Pending& job) {
  const int fd = ::openat(job.parent, job.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  release(job.parent);
  if (fd < 0) return;
  struct stat self {};
  ::fstat(fd, &self);
  if (self.st_dev != job.parentDevice) {
    struct statfs info {};
    if (::fstatfs(fd, &info) == 0 && nimbra::isPseudoFileSystemMagic(static_cast<unsigned long>(info.f_type))) {
      ::close(fd);
      return;
    }
  }
  {
    std::lock_guard guard(countsLock);
    openChildren[static_cast<size_t>(fd)] = 1;
  }
  alignas(8) char buffer[32 * 1024];
  std::vector<Pending> found;
  for (;;) {
    const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      uint16_t length;
      unsigned char type;
      std::memcpy(&length, buffer + at + offsetof(struct dirent64, d_reclen), sizeof length);
      std::memcpy(&type, buffer + at + offsetof(struct dirent64, d_type), sizeof type);
      const char* name = buffer + at + offsetof(struct dirent64, d_name);
      at += length;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      entries.fetch_add(1, std::memory_order_relaxed);
      if (type == DT_DIR) {
        found.push_back({fd, name, self.st_dev});
      } else if (type == DT_REG || type == DT_UNKNOWN) {
        struct stat info {};
        if (::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(info.st_mode)) bytes.fetch_add(static_cast<uint64_t>(info.st_size), std::memory_order_relaxed);
        if (S_ISDIR(info.st_mode)) found.push_back({fd, name, self.st_dev});
      }
    }
  }
  {
    std::lock_guard guard(countsLock);
    openChildren[static_cast<size_t>(fd)] += static_cast<int>(found.size());
  }
  release(fd);
  std::lock_guard guard(lock);
  for (Pending& job : found) pending.push_back(std::move(job));
  more.notify_all();
}

void worker() {
  std::unique_lock guard(lock);
  for (;;) {
    more.wait(guard, [] { return !pending.empty() || busy == 0; });
    if (pending.empty()) return;
    Pending job = std::move(pending.back());
    pending.pop_back();
    ++busy;
    guard.unlock();
    walkOne(job);
    guard.lock();
    if (--busy == 0 && pending.empty()) more.notify_all();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bare_walk ROOT [THREADS]\n");
    return 2;
  }
  const int threads = argc > 2 ? std::atoi(argv[2]) : 2;
  const int start = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  openChildren[static_cast<size_t>(start)] = 2;  // the root's job, and this function's hold
  struct stat rootInfo {};
  ::stat(argv[1], &rootInfo);
  std::string root = argv[1];
  // The root by its path below "/", relative names only from there on.
  pending.push_back({start, root == "/" ? "." : root.substr(root.find_first_not_of('/')), rootInfo.st_dev});
  {
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) pool.emplace_back(worker);
    for (std::thread& thread : pool) thread.join();
  }
  release(start);
  std::printf("%llu bytes, %llu entries\n", static_cast<unsigned long long>(bytes.load()),
              static_cast<unsigned long long>(entries.load()));
  return 0;
}
