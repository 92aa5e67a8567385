#pragma once

// The web server of `nimbra ui`: the page's own files and the channel over a WebSocket, on
// 127.0.0.1 only.
//
// HTTP: a request must name the server in its Host header ("127.0.0.1:PORT" or
// "localhost:PORT", exactly and only once: 421 otherwise, so a rebound DNS name reaches
// nothing), use GET or HEAD (405) and name an embedded file exactly (404). Every response
// carries the content security policy, nosniff, no-referrer and no-store headers, and never an
// Access-Control-* header. Headers are limited to 8 KiB and must arrive within 10 seconds. A
// request that does not parse, or carries a body or any Transfer-Encoding, is answered 400 and
// its connection closed: nothing here reads a body, so what follows could not be told from a
// next request, and reading it as one would answer a request hidden in a body.
//
// "/channel" is the WebSocket: the upgrade also needs exactly one Origin header naming the
// server as the page's own ("http://127.0.0.1:PORT" or "http://localhost:PORT", else 403). The
// first message must be a text message holding the secret, within 5 seconds; anything else,
// a message longer than a secret included, closes the connection (1008, or 1009 for the long
// one) before a single frame is handed on. After it, every binary message is one frame
// (serve_frames.h, without the length prefix) each way. A connection that sends a text message
// (1003), a frame that does not decode (1007) or a message over 64 MiB (1009) is closed; the
// others carry on. permessage-deflate is off.
//
// Connections are bounded by kind (64 HTTP, 32 WebSockets that have not shown the secret, 16
// that have): one over the bound is closed at once, an upgrade answered 503, a connection that
// shows the secret closed with 1013 (try again later). A connection is read only while less
// than 256 of its frames, and 16 MiB, are unsettled (handed on and not yet settled()); past
// that its calls wait in its socket, and the sender finds its writes blocked.
//
// Sending never blocks and never piles up without bound: a connection whose unsent messages
// would exceed 64 MiB is dropped on the spot (the page reconnects and asks again). A message
// to a connection with nothing unsent is always accepted, however large.
//
// Threads: the server runs on a thread of its own; what it hands on (frames, closed
// connections, the stop signal) is posted to the main loop, in arrival order per connection.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/serve/serve_frames.h"
#include "service/main_loop.h"

namespace nimbra {

struct UiServerOptions {
  uint16_t port = 0;   // 0: a free port the system picks
  std::string secret;  // what a connection's first message must hold
};

// Called on the main loop. A connection is named by a number that is never reused.
struct UiServerHandlers {
  // A frame from a connection that has shown the secret, and the size of the message that
  // carried it: the connection's unsettled input until settled(connection, bytes).
  std::function<void(uint64_t connection, Frame frame, size_t bytes)> onFrame;
  // That connection has gone; no frame of it follows.
  std::function<void(uint64_t connection)> onClosed;
  // SIGINT or SIGTERM arrived.
  std::function<void()> onStopSignal;
};

class UiServer {
 public:
  // Listens on 127.0.0.1:options.port and serves until the object goes away. nullptr, with
  // the reason in `error`, when the port cannot be had. `loop` must outlive the server.
  static std::unique_ptr<UiServer> start(MainLoop& loop, UiServerOptions options,
                                         UiServerHandlers handlers, std::string& error);
  virtual ~UiServer() = default;

  // The port it listens on (the one the system picked, for port 0).
  virtual uint16_t port() const = 0;
  // Thread-safe. Queues the frame for the connection; dropped when the connection is gone.
  virtual void send(uint64_t connection, Frame frame) = 0;
  // Thread-safe. A frame of `bytes` that onFrame handed on has been dealt with (answered, or
  // handled without an answer): its connection may read that much more. Once per frame; a
  // connection that is gone is ignored.
  virtual void settled(uint64_t connection, size_t bytes) = 0;
};

}  // namespace nimbra
