#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/embedding/main_window.h"
#include "host/interface_session.h"
#include "host/ui/ui_server.h"
#include "service/main_loop.h"

namespace nimbra {

// `nimbra ui`: the interface session with any number of browser pages, each a connection of
// the web server (ui_server.h) speaking `serve`'s frames:
// - a request frame goes to the host's handler for its channel and its answer goes back to the
//   connection that asked, and only to it; a notice frame is handed over the same way, its
//   reply dropped;
// - what the host sends without wanting an answer (the events) goes to the connection whose
//   "listen" on that channel the host accepted last; after that connection's "cancel", or once
//   it has gone, to none, as with no event sink;
// - the host never asks the page anything, so an answer frame from a page is ignored.
// At start it prints `http://127.0.0.1:PORT/#t=SECRET` as one line on stdout, the only place
// the secret ever appears, and opens the address with the desktop's opener unless told not to.
// It refuses to run as root without `allowRoot` and ends with status 0 on SIGINT or SIGTERM.
class UiSession final : public InterfaceSession {
 public:
  // Not owned; all must outlive the process.
  UiSession(MainFlutterWindow& window, EngineMessenger& engine, MainLoop& loop, UiOptions options);

  void start() override;

 private:
  void onFrame(uint64_t connection, Frame frame, size_t bytes);
  void onClosed(uint64_t connection);
  void onHostMessage(const std::string& channel, std::vector<uint8_t> message, BinaryReply reply);

  MainFlutterWindow& window_;
  EngineMessenger& engine_;
  MainLoop& loop_;
  UiOptions options_;
  std::unique_ptr<UiServer> server_;
  // Main loop only: per channel, the connection that receives what the host sends on it.
  std::map<std::string, uint64_t> listeners_;
};

}  // namespace nimbra
