#include "support/temp_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "support/unprivileged.h"

namespace nimbra::test {
namespace fs = std::filesystem;

namespace {

void writeAll(const std::string& path, const char* data, size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << "cannot create " << path;
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    ASSERT_GT(n, 0) << "cannot write " << path;
    data += n;
    size -= static_cast<size_t>(n);
  }
  ::close(fd);
}

void makeParents(const std::string& path) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
}

}  // namespace

TempTree::TempTree() {
  std::string pattern = (fs::temp_directory_path() / "nimbra-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const char* made = ::mkdtemp(buffer.data());
  if (!made) ADD_FAILURE() << "mkdtemp failed";
  root_ = made ? made : "/nonexistent-nimbra-test";
}

TempTree::~TempTree() {
  std::error_code ec;
  // Tests may leave read-only folders behind; open them up so the tree can go.
  for (auto it = fs::recursive_directory_iterator(root_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      ::chmod(it->path().c_str(), 0755);
    }
  }
  ::chmod(root_.c_str(), 0755);
  fs::remove_all(root_, ec);  // remove_all never follows symbolic links
}

std::string TempTree::makeDir(const std::string& relative) const {
  std::string p = path(relative);
  std::error_code ec;
  fs::create_directories(p, ec);
  EXPECT_FALSE(ec) << "cannot create " << p << ": " << ec.message();
  return p;
}

std::string TempTree::touch(const std::string& relative, int64_t size, uint32_t seed) const {
  std::string p = path(relative);
  makeParents(p);
  std::string data(static_cast<size_t>(size), '\0');
  uint32_t x = seed * 2654435761u + 1u;
  for (auto& c : data) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  writeAll(p, data.data(), data.size());
  return p;
}

std::string TempTree::write(const std::string& relative, const std::string& content) const {
  std::string p = path(relative);
  makeParents(p);
  writeAll(p, content.data(), content.size());
  return p;
}

std::string TempTree::sparseFile(const std::string& relative, int64_t size) const {
  std::string p = path(relative);
  makeParents(p);
  int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  EXPECT_GE(fd, 0) << "cannot create " << p;
  if (fd >= 0) {
    EXPECT_EQ(::ftruncate(fd, size), 0) << "cannot size " << p;
    ::close(fd);
  }
  return p;
}

std::string TempTree::symlink(const std::string& target, const std::string& relative) const {
  std::string p = path(relative);
  makeParents(p);
  EXPECT_EQ(::symlink(target.c_str(), p.c_str()), 0) << "cannot link " << p;
  return p;
}

std::string TempTree::hardlink(const std::string& existingRelative, const std::string& relative) const {
  std::string p = path(relative);
  makeParents(p);
  EXPECT_EQ(::link(path(existingRelative).c_str(), p.c_str()), 0) << "cannot link " << p;
  return p;
}

void TempTree::giveToNobody() const {
  std::error_code ec;
  ::lchown(root_.c_str(), nobodyUid(), nobodyGid());
  for (auto it = fs::recursive_directory_iterator(root_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    ::lchown(it->path().c_str(), nobodyUid(), nobodyGid());
  }
}

}  // namespace nimbra::test
