#pragma once

// The duplicate finder's last stage: the files of one prefix group compared with each other,
// window by window, instead of each being hashed in full.
//
// The members of a group are read in lockstep, a window at a time from the end of the
// prefix, and split into classes of equal windows. A class goes on while it holds two or more
// paths; a file that differs from every other is dropped at its first differing window and
// its remaining bytes are never read. Only the bytes of classes that go on are hashed, one
// copy per class: a class's SHA-256 state starts from the state after the prefix (the bytes
// so far are the same for all its members), is copied when the class splits, and is fed each
// window from the class's own first member once the window's split is known, on a thread of
// its own while the next window is read. So each group answered costs one digest, and a file
// that drops out is never fed.
//
// Hard links of one file are one member, read once, but count as paths. A member whose
// version (device, inode, size, change time) differs from the one the prefix stage read,
// that reads short, or whose version has changed by the end, leaves its class: the other
// members were compared with the very bytes that were hashed, so their digest still holds.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ops/finders/background_hasher.h"
#include "ops/finders/duplicate_stages.h"
#include "ops/finders/file_digests.h"

namespace nimbra {

// The members of a class are read this much at a time. Small enough that a class's windows
// stay in the 1 MiB L2 cache of a core from the read through the comparison to the hash: on
// the 2 GB synthetic tree, 1.22 s of CPU against 1.29 s with 1 MiB windows (user time 0.45 s
// against 0.50 s), the system time for the reads alike.
inline constexpr int64_t kCompareWindowBytes = 256 << 10;

class ContentComparer {
 public:
  // What the comparisons did so far, for tests and measurements.
  struct Counts {
    int64_t bytesRead = 0;    // read from files past the prefix, every member counted
    int64_t bytesHashed = 0;  // of those, fed to SHA-256
    int64_t digests = 0;      // whole-content digests finished
  };

  // `prefixes` must hold the prefix stage's results for every group handed to split().
  explicit ContentComparer(const FileDigests& prefixes) : prefixes_(prefixes) {}

  // Stage 3: one group of equal size and prefix digest split into groups of identical
  // content, each with the SHA-256 of that content. A group of files no longer than the
  // prefix is answered as it is: its prefix digest covers the whole content.
  //
  // `cancelled` is asked before each window; once it says so, the groups finished until then
  // are answered and the rest is left.
  std::vector<CandidateGroup> split(const CandidateGroup& group,
                                    const std::function<bool()>& cancelled);

  const Counts& counts() const { return counts_; }

 private:
  struct Member;
  struct Class;

  // Splits `from` by its window at `from.offset`, `length` bytes long; answers the classes
  // of two or more paths, each fed its window.
  std::vector<Class> splitWindow(std::vector<Member>& members, Class& from, int64_t length);
  bool readWindow(Member& member, int64_t offset, int64_t length, char* into);
  bool unchanged(Member& member);
  char* buffer(size_t index);

  const FileDigests& prefixes_;
  // Two banks of window buffers: one is read into while the other is hashed from.
  std::vector<std::unique_ptr<char[]>> buffers_[2];
  size_t bank_ = 0;
  Counts counts_;
  // Declared last, so that it is done with the buffers before they go.
  BackgroundHasher hasher_;
};

}  // namespace nimbra
