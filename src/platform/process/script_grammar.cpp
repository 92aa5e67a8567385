#include "platform/process/script_grammar.h"

#include <algorithm>

#include "platform/formats/script_literal.h"

namespace nimbra {

std::string adminRemovalScript(const std::vector<std::string>& paths) {
  std::string command;
  const bool optionLike =
      std::any_of(paths.begin(), paths.end(), [](const std::string& p) { return p.starts_with('-'); });
  if (optionLike) command = "-- ";
  for (size_t i = 0; i < paths.size(); ++i) {
    if (i > 0) command += ' ';
    command += shellQuoted(paths[i]);
  }
  return "do shell script \"rm -rf " + appleScriptEscaped(command) + "\" with administrator privileges";
}

}  // namespace nimbra
