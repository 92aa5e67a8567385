#include "support/walk_watch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace nimbra::test {

WideTree::WideTree(int folders, int files) {
  // 60,000 files on a disk cost seconds to make and remove; in memory, a fraction of one.
  if (::access("/dev/shm", W_OK) == 0) inMemory_.emplace("TMPDIR", "/dev/shm");
  tree_.emplace();
  const int root = ::open(tree_->root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int d = 0; d < folders; ++d) {
    const std::string folder = "d" + std::to_string(d);
    ::mkdirat(root, folder.c_str(), 0755);
    for (int f = 0; f < files; ++f) {
      const int fd = ::openat(
          root, (folder + "/f" + std::to_string(f)).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      (void)::ftruncate(fd, 1);
      ::close(fd);
    }
  }
  ::close(root);
}

bool waitUntilOpen(pid_t pid, const std::string& directory) {
  namespace fs = std::filesystem;
  const std::string descriptors = "/proc/" + std::to_string(pid) + "/fd";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator(descriptors, ec)) {
      if (fs::read_symlink(fd.path(), ec) == directory) return true;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

}  // namespace nimbra::test
