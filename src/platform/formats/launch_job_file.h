#pragma once

// A launch job file as both the startup inventory and the launch service stand-in read it:
// the label, the program and its arguments, and the two flags.

#include <string>
#include <string_view>
#include <vector>

namespace nimbra {

struct LaunchJob {
  bool readable = false;  // the file was a property-list dictionary
  std::string label;      // "Label", else the file name without ".plist"
  // "Program" when it is a non-empty string, else the first of "ProgramArguments", else "".
  std::string program;
  // "ProgramArguments" after its first element: that list is the whole argument vector.
  std::vector<std::string> arguments;
  bool disabled = false;   // "Disabled"
  bool runAtLoad = false;  // "RunAtLoad"
};

// Reads the job file at `path`; a file that cannot be read as a dictionary gives a job with
// only the label taken from its file name. A key of another type than expected counts as absent.
LaunchJob readLaunchJob(const std::string& path);

// The file name of `path` without a ".plist" suffix (case-sensitive); the whole name otherwise.
std::string labelFromFileName(std::string_view path);

}  // namespace nimbra
