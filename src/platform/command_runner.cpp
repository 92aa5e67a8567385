#include "platform/command_runner.h"

#include "platform/child_process.h"
#include "platform/utf8.h"

namespace nimbra {

std::string SpawnCommandRunner::run(const std::string& program,
                                    const std::vector<std::string>& arguments) {
  // Standard error is drained (a child must not stall on it) but never part of the answer.
  ChildOutcome child = runChild(program, arguments, {.keepStandardError = false});
  if (!child.launched || !isValidUtf8(child.out)) return {};
  return std::move(child.out);
}

}  // namespace nimbra
