#pragma once

// What the deletion, Trash and runner tests share: the test support they all use, independent
// looks at real trees, and the answer and events of item deletion.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <numeric>

#include "host/json/json_text.h"
#include "platform/process/command_runner.h"
#include "platform/process/script_runner.h"
#include "support/temp_tree.h"
#include "support/test_context.h"
#include "support/test_seams.h"
#include "support/unprivileged.h"

namespace nimbra::test {

// The bytes of the regular files at or below `path` as find(1) lists them, links not followed:
// a measure independent of the service's own.
inline int64_t findByteSum(const std::string& path) {
  std::istringstream sizes(
      SpawnCommandRunner().run("/usr/bin/find", {path, "-type", "f", "-printf", "%s\n"}));
  return std::accumulate(std::istream_iterator<int64_t>(sizes), {}, int64_t{0});
}

// Whether anything (a link too) is at `path`.
inline bool present(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

inline long entryCount(const std::string& folder) {
  return std::distance(std::filesystem::directory_iterator(folder), {});
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

// An answer as JSON text: what a test body that runs in an unprivileged child hands back.
inline std::string json(const std::optional<Value>& answer) {
  return answer ? toJsonText(*answer) : "no answer";
}

inline Value deleteResult(int64_t freed, const std::vector<std::string>& failed = {},
    const std::string& error = "", const std::vector<std::string>& inTrash = {},
    int64_t inTrashBytes = 0) {
  return ValueMap{{"freed", freed}, {"failed", ValueList(failed.begin(), failed.end())},
      {"inTrash", ValueList(inTrash.begin(), inTrash.end())}, {"inTrashBytes", inTrashBytes},
      {"error", error}};
}

inline Event deleteEvent(const std::string& path, int64_t count, int64_t bytes) {
  return {"delete", path, count, bytes};
}

}  // namespace nimbra::test
