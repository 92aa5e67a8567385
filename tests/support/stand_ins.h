#pragma once

// Stand-ins for the programs the service and the host start, each a /bin/sh script in a folder
// of their own. A recording one appends its name and arguments, each followed by "|", as one
// line of record().

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_tree.h"
#include "support/test_seams.h"

namespace nimbra::test {

struct StandIns {
  void add(const std::string& name, const std::string& body) {
    ::chmod(tree.write("bin/" + name, "#!/bin/sh\n" + body + "\n").c_str(), 0755);
  }
  void addRecording(const std::string& name, const std::string& rest = "") {
    add(name, "{ printf '%s|' \"${0##*/}\" \"$@\"; echo; } >> '" + recordPath() + "'\n" + rest);
  }
  std::string bin() const { return tree.makeDir("bin"); }
  std::string recordPath() const { return tree.path("record"); }
  // The recorded lines once there are `count` of them; detached programs write after the
  // host has answered.
  std::vector<std::string> record(size_t count = 0) const {
    std::vector<std::string> lines;
    for (int waited = 0; waited < 30000; waited += 10) {
      lines.clear();
      std::ifstream in(recordPath());
      for (std::string line; std::getline(in, line);) lines.push_back(line);
      if (lines.size() >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lines;
  }
  // PATH with the stand-ins first, and the display set unless told otherwise.
  std::vector<std::string> environment(bool display = true, bool systemPrograms = true) const {
    return {"PATH=" + bin() + (systemPrograms ? ":/usr/bin:/bin" : ""),
        std::string("DISPLAY=") + (display ? ":99" : ""), "WAYLAND_DISPLAY="};
  }
  TempTree tree;
};

// Recording `systemctl` and `systemd-run`, first on PATH while the object lives: `list-units`
// prints `listing`, and every call exits with `status`.
class SystemdRecorder : public StandIns {
 public:
  explicit SystemdRecorder(const std::string& listing = "", int status = 0) {
    const std::string units = tree.write("units.txt", listing);
    for (const char* name : {"systemctl", "systemd-run"}) {
      addRecording(name, "case \" $* \" in *' list-units '*) cat '" + units + "';; esac\nexit " +
                             std::to_string(status));
    }
  }
  std::vector<std::string> calls() const { return record(); }

 private:
  ScopedEnv path_{
      "PATH", bin() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin")};
};

}  // namespace nimbra::test
