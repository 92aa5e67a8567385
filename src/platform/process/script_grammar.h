#pragma once

#include <string>
#include <vector>

namespace nimbra {

// The one administrator script that removes every path still standing after the ordinary
// attempt: do shell script "rm -rf P1 P2 ..." with administrator privileges. Each path is
// shell-quoted, so the command names exactly that path whatever it holds; the joined command
// is then escaped for the script's string literal. A "--" goes before the paths only when one
// of them starts with "-" (a relative path), so that rm cannot read it as an option.
std::string adminRemovalScript(const std::vector<std::string>& paths);

}  // namespace nimbra
