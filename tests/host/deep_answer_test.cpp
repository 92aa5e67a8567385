// A disk usage tree far deeper than any real one, through each front end of the host program:
// the answer arrives whole, cut at kMaxDiskTreeDepth, and the session lives on. Before the cut
// and the non-recursive value layers, the host died of a stack overflow or refused its own
// answer.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "host/json/json_text.h"
#include "host_process.h"
#include "ops/finders/disk_tree.h"
#include "service/nimbra_native.h"
#include "support/answers.h"
#include "support/temp_tree.h"

namespace nimbra::test {
namespace {

// Uncut, the answer for this chain would nest twice as deep as any decoder here takes.
constexpr int kChainLevels = kMaxNestingDepth;
constexpr int64_t kBottomFileSize = 7;

// `root`/d/d/.../d/f: kChainLevels folders, one file at the bottom, made through descriptors
// because the chain's paths are far longer than PATH_MAX. For the same reason TempTree's
// clean-up, which goes by path, could not remove it; rm walks by descriptors too.
struct DeepChain {
  explicit DeepChain(const std::string& root) : root(root) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < kChainLevels && fd >= 0; ++level) {
      ::mkdirat(fd, "d", 0755);
      const int below = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      ::close(fd);
      fd = below;
    }
    const int file = ::openat(fd, "f", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    EXPECT_EQ(::write(file, "1234567", kBottomFileSize), kBottomFileSize);
    ::close(file);
    ::close(fd);
  }
  ~DeepChain() { EXPECT_EQ(std::system(("rm -rf -- '" + root + "'").c_str()), 0); }
  std::string root;
};

const Value& field(const Value& node, const std::string& key) {
  static const Value kMissing;
  const ValueMap* map = node.getIf<ValueMap>();
  return map && map->contains(key) ? map->at(key) : kMissing;
}

// The tree holds the one chain "chain/d/d/...": every level sums the bottom file, and the
// last level, at the bound, has no children.
void expectChainCutAtTheBound(const Value& answer) {
  const Value* node = &answer;
  int levels = 0;
  while (true) {
    ASSERT_EQ(field(*node, "size"), Value(kBottomFileSize)) << "at level " << levels;
    ASSERT_EQ(field(*node, "files"), Value(int64_t{1})) << "at level " << levels;
    const ValueList* children = field(*node, "children").getIf<ValueList>();
    ASSERT_NE(children, nullptr) << "at level " << levels;
    if (children->empty()) break;
    ASSERT_EQ(children->size(), 1u) << "at level " << levels;
    node = &children->front();
    ++levels;
  }
  EXPECT_EQ(levels, kMaxDiskTreeDepth);
  EXPECT_EQ(field(*node, "isDir"), Value(true));
}

TEST(DeepAnswer, AChainThousandsOfFoldersDeepIsCutAtTheBoundThroughEveryFrontEnd) {
  TempTree tree;
  DeepChain chain(tree.makeDir("chain"));
  const ValueMap arguments{{"path", tree.root()}, {"depth", int64_t{100000}}};
  const std::string argumentsJson = toJsonText(arguments);
  HostProcess call({"call", "analyzeDisk", argumentsJson}), serve({"serve"}),
      lines({"serve", "--json"});
  serve.send(
      Frame{FrameKind::request, 1, kNativeChannel, encodeMethodCall({"analyzeDisk", arguments})});
  lines.send(R"({"id":1,"method":"analyzeDisk","args":)" + argumentsJson + "}\n");
  // Each answer is read before its process is waited for: it fills the pipe.
  {
    SCOPED_TRACE("call");
    expectChainCutAtTheBound(fromJson(call.readLine().value_or("")));
  }
  {
    SCOPED_TRACE("serve");  // no "listen": the answer is the only frame
    const Frame frame = serve.readFrame().value_or(Frame{});
    Decoded<Envelope> answer = decodeEnvelope(frame.message.value_or(Bytes{}));
    ASSERT_TRUE(answer) << answer.error;
    expectChainCutAtTheBound(answer.value->result);
  }
  {
    SCOPED_TRACE("serve --json");  // events come first
    Value message;
    for (std::optional<std::string> line;
         field(message, "id") != Value(int64_t{1}) && (line = lines.readLine());) {
      message = fromJson(*line);
    }
    expectChainCutAtTheBound(field(message, "result"));
  }
  for (HostProcess* host : {&call, &serve, &lines}) {
    host->closeInput();
    EXPECT_EQ(host->wait(), 0) << host->stderrText();
  }
}

}  // namespace
}  // namespace nimbra::test
