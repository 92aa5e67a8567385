#include "support/temp_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "base/descriptor.h"
#include "base/fd_io.h"
#include "support/unprivileged.h"

namespace nimbra::test {
namespace fs = std::filesystem;

namespace {

void makeParents(const std::string& path) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
}

// Creates `path` (parents too) holding `data`, or of logical length `size` without data.
void makeFile(const std::string& path, const std::string& data, int64_t size) {
  makeParents(path);
  const Descriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  ASSERT_TRUE(fd.ok()) << "cannot create " << path;
  ASSERT_TRUE(writeAll(fd.get(), data)) << "cannot write " << path;
  if (data.empty()) {
    EXPECT_EQ(::ftruncate(fd.get(), size), 0) << "cannot size " << path;
  }
}

}  // namespace

TempTree::TempTree() {
  std::string pattern = (fs::temp_directory_path() / "nimbra-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
  root_ = pattern;
}

TempTree::~TempTree() {
  // Tests may leave folders locked; open them again so the tree can go. remove_all and the
  // iterator never follow symbolic links.
  std::error_code ec;
  ::chmod(root_.c_str(), 0755);
  for (auto it = fs::recursive_directory_iterator(
           root_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink(ec) && it->is_directory(ec)) ::chmod(it->path().c_str(), 0755);
  }
  fs::remove_all(root_, ec);
}

std::string TempTree::makeDir(const std::string& relative) const {
  std::error_code ec;
  fs::create_directories(path(relative), ec);
  EXPECT_FALSE(ec) << "cannot create " << path(relative) << ": " << ec.message();
  return path(relative);
}

std::string TempTree::touch(const std::string& relative, int64_t size, uint32_t seed) const {
  std::string data(static_cast<size_t>(size), '\0');
  uint32_t x = seed * 2654435761u + 1u;
  for (char& c : data) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  makeFile(path(relative), data, 0);
  return path(relative);
}

std::string TempTree::write(const std::string& relative, const std::string& content) const {
  makeFile(path(relative), content, 0);
  return path(relative);
}

std::string TempTree::sparseFile(const std::string& relative, int64_t size) const {
  makeFile(path(relative), "", size);
  return path(relative);
}

std::string TempTree::symlink(const std::string& target, const std::string& relative) const {
  makeParents(path(relative));
  EXPECT_EQ(::symlink(target.c_str(), path(relative).c_str()), 0) << "cannot link " << relative;
  return path(relative);
}

std::string TempTree::hardlink(
    const std::string& existingRelative, const std::string& relative) const {
  makeParents(path(relative));
  EXPECT_EQ(::link(path(existingRelative).c_str(), path(relative).c_str()), 0)
      << "cannot link " << relative;
  return path(relative);
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
