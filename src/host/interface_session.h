#pragma once

#include <string>

#include "host/embedding/main_window.h"

namespace nimbra {

// The interface's side of the window: a front end that talks to the service through the
// engine's messenger the way the Flutter interface would. The shell starts it once on the main
// loop after the window has loaded; it closes the window (ending the process) when it is done.
class InterfaceSession {
 public:
  virtual ~InterfaceSession() = default;
  virtual void start() = 0;
};

// Says on stderr what went wrong ("nimbra: COMPLAINT") and closes the window with `status`.
[[noreturn]] void closeWithComplaint(const MainFlutterWindow& window, const std::string& complaint,
                                     int status);

}  // namespace nimbra
