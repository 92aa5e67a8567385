#pragma once

// For tests that must act while a walk is under way (a cancel, a signal): a tree wide enough
// that its walk lasts, made in memory where the machine has /dev/shm, and a wait until a
// process has the tree's root open — which the walker does first and keeps while it walks.

#include <sys/types.h>

#include <optional>
#include <string>

#include "support/temp_tree.h"
#include "support/test_seams.h"

namespace nimbra::test {

class WideTree {
 public:
  // `folders` folders of `files` files of one byte each.
  WideTree(int folders, int files);
  const std::string& root() const { return tree_->root(); }

 private:
  std::optional<ScopedEnv> inMemory_;
  std::optional<TempTree> tree_;
};

// Waits (up to 10 s) until process `pid` holds a descriptor on `directory`; false on timeout.
bool waitUntilOpen(pid_t pid, const std::string& directory);

}  // namespace nimbra::test
