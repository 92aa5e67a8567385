#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/embedding/main_window.h"
#include "host/interface_session.h"
#include "host/ui/opener_page.h"
#include "host/ui/ui_server.h"
#include "service/main_loop.h"

namespace nimbra {

// `nimbra ui`: the interface session with any number of browser pages, each a connection of
// the web server (ui_server.h) speaking `serve`'s frames:
// - a request frame goes to the host's handler for its channel and its answer goes back to the
//   connection that asked, and only to it; a notice frame is handed over the same way, its
//   reply dropped;
// - calls that the service runs on its serial work queue are handed to it one at a time, the
//   next when the one before has answered, in arrival order across connections: so the session
//   knows whose work runs, and one page's work never queues behind another's inside the
//   service, where nothing could remove it;
// - when a connection closes, the work it started ends with it: its calls still waiting are
//   dropped, and if its call is running, the service is told to cancel (its one cancellation
//   flag then stops that call, and the next work call clears it); other pages' work goes on;
// - what the host sends without wanting an answer (the events) goes to the connection whose
//   "listen" on that channel the host accepted last; after that connection's "cancel", or once
//   it has gone, to none, as with no event sink;
// - the host never asks the page anything, so an answer frame from a page is ignored.
// At start it prints `http://127.0.0.1:PORT/#t=SECRET` as one line on stdout and, unless told
// not to, hands the desktop's opener a private page that forwards there (opener_page.h): the
// secret never appears on a command line. The page is removed once a page has shown the
// secret, after a minute, or when the session ends.
// It refuses to run as root without `allowRoot` and ends with status 0 on SIGINT or SIGTERM.
class UiSession final : public InterfaceSession {
 public:
  // Not owned; all must outlive the process.
  UiSession(MainFlutterWindow& window, EngineMessenger& engine, MainLoop& loop, UiOptions options);

  void start() override;

 private:
  // A frame handed on by the server, with the size it counts against its connection.
  struct Incoming {
    uint64_t connection;
    Frame frame;
    size_t bytes;
  };

  void openInBrowser(const std::string& address);
  void onFrame(Incoming incoming);
  void onClosed(uint64_t connection);
  void onHostMessage(const std::string& channel, std::vector<uint8_t> message, BinaryReply reply);
  // Hands the frame to the host; `work`: it is the work call that runs.
  void deliver(Incoming incoming, bool work);
  void startNextWork();
  void removeOpenerPage();

  MainFlutterWindow& window_;
  EngineMessenger& engine_;
  MainLoop& loop_;
  UiOptions options_;
  std::unique_ptr<UiServer> server_;
  // Main loop only from here on.
  // Per channel, the connection that receives what the host sends on it.
  std::map<std::string, uint64_t> listeners_;
  // Work calls not yet handed to the service, oldest first, and the connection of the one that
  // runs (none while the service's work queue is idle, as far as this session goes).
  std::deque<Incoming> waitingWork_;
  bool workRunning_ = false;
  std::optional<uint64_t> runningWorkOf_;
  std::optional<OpenerPage> openerPage_;
};

}  // namespace nimbra
