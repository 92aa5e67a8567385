#pragma once

// Recording stand-ins for `systemctl` and `systemd-run`, first on PATH while the object lives:
// each call appends "PROGRAM|ARG|...|" as one line to a log, `list-units` prints the test's
// listing, and every call exits with the test's status.

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_tree.h"
#include "support/test_seams.h"

namespace nimbra::test {

class SystemdRecorder {
 public:
  explicit SystemdRecorder(const TempTree& tree, const std::string& listing = "", int status = 0)
      : log_(tree.path("systemd.log")),
        bin_(makeBin(tree, log_, tree.write("units.txt", listing), status)),
        path_("PATH", bin_ + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin")) {}

  const std::string& bin() const { return bin_; }
  std::vector<std::string> calls() const {
    std::ifstream in(log_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  static std::string makeBin(
      const TempTree& tree, const std::string& log, const std::string& listing, int status) {
    const std::string script = "#!/bin/sh\nprintf '%s|' \"${0##*/}\" \"$@\" >> '" + log +
                               "'\necho >> '" + log +
                               "'\ncase \" $* \" in *' list-units '*) cat '" + listing +
                               "';; esac\nexit " + std::to_string(status) + "\n";
    for (const char* name : {"systemctl", "systemd-run"})
      ::chmod(tree.write(std::string("bin/") + name, script).c_str(), 0755);
    return tree.path("bin");
  }

  std::string log_;
  std::string bin_;
  ScopedEnv path_;
};

}  // namespace nimbra::test
