// SHA-256 of file content: limits, offsets, the mapped path for large ranges, and files that
// are not (or no longer) what the walk saw.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "finders/content_file.h"
#include "support/temp_tree.h"
#include "support/unprivileged.h"

namespace nimbra::test {
namespace {

std::string contentOf(const std::string& path) {
  std::ostringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

std::string hexOf(const std::string& bytes) { return sha256Of(bytes.data(), bytes.size()).hex(); }

TEST(Sha256Test, PublishedDigestsAndBranchingState) {
  EXPECT_EQ(hexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  Sha256 hasher;
  hasher.update("ab", 2);
  Sha256 branch = hasher.clone();
  EXPECT_EQ(hasher.digest().hex(), hexOf("ab"));  // digest() leaves the computation going on
  hasher.update("c", 1);
  branch.update("x", 1);
  EXPECT_EQ(hasher.digest().hex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(branch.digest().hex(), hexOf("abx"));
}

TEST(HashFileTest, LimitsAndOffsetsCoverExactlyTheBytesAsked) {
  TempTree tree;
  // Around the 64 KiB prefix, around a piece, and well past the size from which ranges are mapped.
  for (int64_t size : {0, 65535, 65536, 65537, 300000, (5 << 20) + 123}) {
    SCOPED_TRACE(size);
    std::string path = tree.touch(std::to_string(size), size, static_cast<uint32_t>(size));
    std::string content = contentOf(path);
    EXPECT_EQ(hashFile(path)->hex(), hexOf(content));
    EXPECT_EQ(hashFile(path, 65536)->hex(), hexOf(content.substr(0, 65536)));
    for (int64_t offset : {4097, 65536, (1 << 20) + 5}) {
      if (offset > size) continue;
      std::optional<ContentFile> file = ContentFile::open(path);
      Sha256 hasher;
      EXPECT_EQ(file->feed(hasher, offset, std::nullopt), size - offset);
      EXPECT_EQ(hasher.digest().hex(), hexOf(content.substr(static_cast<size_t>(offset))));
    }
  }
}

TEST(HashFileTest, OnlyReadableRegularFilesAnswerAndNothingBlocks) {
  TempTree tree;
  std::string target = tree.touch("target", 100, 1);
  std::string fifo = tree.path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(hashFile(fifo));  // a blocking open would wait for a writer forever
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(hashFile(tree.makeDir("folder")));
  EXPECT_FALSE(hashFile(tree.symlink(target, "link")));
  EXPECT_FALSE(hashFile(tree.path("missing")));

  tree.giveToNobody();
  ASSERT_EQ(::chmod(target.c_str(), 0), 0);
  EXPECT_EQ(runUnprivileged([&]() -> std::string { return hashFile(target) ? "hashed" : ""; }), "");
}

TEST(HashFileTest, FileThatShrinksUnderTheMappingIsUnreadableNotFatal) {
  TempTree tree;
  std::string path = tree.touch("shrinks", 8 << 20, 5);
  std::optional<ContentFile> file = ContentFile::open(path);  // fstat sees 8 MiB
  ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
  Sha256 hasher;
  EXPECT_FALSE(file->feed(hasher, 0, std::nullopt));
  EXPECT_TRUE(hashFile(tree.touch("next", 2 << 20, 6)));  // the guard was only for that window
}

TEST(HashFileDeathTest, SigbusOutsideAHashedWindowStillEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempTree tree;
  std::string path = tree.touch("shrinks", 8 << 20, 5);
  hashFile(path);  // installs the handler
  EXPECT_EXIT(
      {
        int fd = ::open(path.c_str(), O_RDWR);
        auto* mapped = static_cast<volatile char*>(::mmap(nullptr, 8 << 20, PROT_READ, MAP_SHARED, fd, 0));
        if (::ftruncate(fd, 0) == 0 && mapped[1 << 20] == 0) ::_exit(0);
        ::_exit(0);
      },
      // Killed by SIGBUS, or by a sanitizer reporting it: anything but carrying on.
      [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); }, "");
}

}  // namespace
}  // namespace nimbra::test
