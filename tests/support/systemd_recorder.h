#pragma once

// Recording stand-ins for `systemctl` and `systemd-run`, first on PATH while the object lives:
// each call appends one line "PROGRAM|ARG|ARG|...|" to a log, `list-units` prints the listing
// the test gives, and every call exits with the test's status.

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_tree.h"
#include "support/test_seams.h"

namespace nimbra::test {

class SystemdRecorder {
 public:
  explicit SystemdRecorder(const TempTree& tree, const std::string& unitsListing = "", int status = 0)
      : log_(tree.path("systemd.log")), bin_(makeBin(tree, log_, unitsListing, status)),
        path_("PATH", bin_ + ":" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin")) {}

  const std::string& bin() const { return bin_; }
  std::vector<std::string> calls() const {
    std::ifstream in(log_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  static std::string makeBin(const TempTree& tree, const std::string& log, const std::string& listing, int status) {
    const std::string listingFile = tree.write("units.txt", listing);
    const std::string script = "#!/bin/sh\nprintf '%s|' \"${0##*/}\" \"$@\" >> '" + log + "'\necho >> '" + log +
                               "'\ncase \" $* \" in *' list-units '*) cat '" + listingFile + "';; esac\nexit " +
                               std::to_string(status) + "\n";
    for (const char* name : {"systemctl", "systemd-run"}) {
      ::chmod(tree.write(std::string("bin/") + name, script).c_str(), 0755);
    }
    return tree.path("bin");
  }

  std::string log_;
  std::string bin_;
  ScopedEnv path_;
};

}  // namespace nimbra::test
