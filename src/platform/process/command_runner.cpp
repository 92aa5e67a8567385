#include "platform/process/command_runner.h"

#include "base/errno_text.h"
#include "base/utf8.h"
#include "base/white_space.h"
#include "platform/process/child_process.h"

namespace nimbra {
namespace {

std::string utf8OrEmpty(std::string text) {
  return isValidUtf8(text) ? std::move(text) : std::string();
}

}  // namespace

std::string SpawnCommandRunner::run(const std::string& program,
                                    const std::vector<std::string>& arguments) {
  // Standard error is drained (a child must not stall on it) but never part of the answer.
  ChildOutcome child = runChild(program, arguments, {.keepStandardError = false});
  if (!child.launched) return {};
  return utf8OrEmpty(std::move(child.out));
}

CheckedOutput SpawnCommandRunner::runChecked(const std::string& program,
                                             const std::vector<std::string>& arguments) {
  ChildOutcome child = runChild(program, arguments);
  if (!child.launched) return {false, "", errnoText(child.launchError)};
  std::string output = utf8OrEmpty(std::move(child.out));
  if (child.exitedZero) return {true, std::move(output), ""};
  return {false, std::move(output), utf8OrEmpty(trimWhiteSpace(std::move(child.err)))};
}

}  // namespace nimbra
