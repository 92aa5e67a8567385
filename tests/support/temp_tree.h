#pragma once

#include <cstdint>
#include <string>

namespace nimbra::test {

// A real directory tree in a fresh temporary folder, removed (links never followed) when the
// object goes away. Relative paths are below root(); every helper fails the test on error.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& root() const { return root_; }
  std::string path(const std::string& relative) const { return root_ + "/" + relative; }

  // Creates the folder and any missing parents; answers its absolute path.
  std::string makeDir(const std::string& relative) const;
  // Writes a file of `size` bytes (a repeating pattern seeded by `seed`), parents created.
  std::string touch(const std::string& relative, int64_t size = 0, uint32_t seed = 0) const;
  // Writes exactly `content`.
  std::string write(const std::string& relative, const std::string& content) const;
  // A file of logical length `size` that occupies (almost) no blocks.
  std::string sparseFile(const std::string& relative, int64_t size) const;
  std::string symlink(const std::string& target, const std::string& relative) const;
  std::string hardlink(const std::string& existingRelative, const std::string& relative) const;
  // Hands the whole tree to `nobody` so an unprivileged child can work in it.
  void giveToNobody() const;

 private:
  std::string root_;
};

}  // namespace nimbra::test
