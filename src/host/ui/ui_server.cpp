// The one file that includes Boost.Beast and Boost.Asio: they cost several seconds of compile
// time wherever they are included. See ui_server.h for the rules the server keeps.

#include "host/ui/ui_server.h"

#include <openssl/crypto.h>
#include <poll.h>

#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast.hpp>
#include <chrono>
#include <csignal>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "host/ui/web_assets.h"

namespace nimbra {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

constexpr size_t kMaxHeaderBytes = 8 * 1024;
constexpr std::chrono::seconds kRequestTimeout{10};
constexpr std::chrono::seconds kSecretTimeout{5};
// A connection that answers neither messages nor pings for this long is gone (a sleeping
// laptop's page, a killed browser whose socket never closed).
constexpr std::chrono::seconds kIdleTimeout{60};
constexpr size_t kMaxMessageBytes = kMaxFrameBodySize;
constexpr size_t kMaxQueuedBytes = size_t{64} << 20;
// How long the acceptor rests after a failed accept (out of descriptors) before it tries again.
constexpr std::chrono::milliseconds kAcceptRetry{100};

// Before the secret a connection may send one message, the secret (43 characters), and nothing
// else: a longer one is not the secret, and is refused from its frame header on, before it is
// read. Each stranger's connection then costs a few KiB, not the 64 MiB a frame may hold.
constexpr size_t kMaxSecretMessageBytes = 256;
// Connections at once, by kind. A browser opens up to six HTTP connections to a server and one
// WebSocket per tab; the bounds leave room for many tabs while a local program that opens
// connections by the thousand can take neither the memory nor the descriptors that scans need.
constexpr size_t kMaxHttpConnections = 64;
constexpr size_t kMaxStrangerChannels = 32;  // upgraded, the secret not shown yet (5 s each)
constexpr size_t kMaxChannels = 16;          // pages that have shown the secret
// A channel is read only while less than this is unsettled: a page sends a few calls at a
// time, each of a few KiB (a long deleteItems list, about 1 MiB). Calls queued past it behind
// a long scan wait in the socket instead of in memory: 40 calls of 10 MiB took 500 MiB before
// (bench/ui_hostile_clients.py).
constexpr size_t kMaxUnsettledFrames = 256;
constexpr size_t kMaxUnsettledBytes = size_t{16} << 20;
// While a channel is not read, its peer's end of the connection is looked at this often, so
// that a page that goes away is noticed (its work is cancelled) without reading what it sent.
constexpr std::chrono::seconds kPeerCheck{1};
// A read buffer larger than this is given back after its message, so that one large call does
// not keep its size for the life of the connection.
constexpr size_t kKeptReadBuffer = size_t{1} << 20;
// After an answer that ends the connection, what the client still sends is read and dropped for
// this long, or up to this much, before the socket closes: closing with unread bytes resets the
// connection, and the reset can destroy the answer before the client has read it.
constexpr std::chrono::seconds kLingerTime{2};
constexpr size_t kMaxLingerBytes = size_t{64} << 10;

constexpr std::string_view kChannelPath = "/channel";

using Body = http::span_body<const char>;
using Request = http::request<http::empty_body>;
using Response = http::response<Body>;

std::span<const char> textSpan(std::string_view text) { return {text.data(), text.size()}; }

// One open connection counted against its kind's bound; the count goes down when the slot is
// destroyed or released. Empty when the bound had been reached.
class ConnectionSlot {
 public:
  ConnectionSlot() = default;
  explicit ConnectionSlot(std::atomic<size_t>& open) : open_(&open) {}
  ConnectionSlot(ConnectionSlot&& other) noexcept : open_(std::exchange(other.open_, nullptr)) {}
  ConnectionSlot& operator=(ConnectionSlot&& other) noexcept {
    if (this != &other) {
      release();
      open_ = std::exchange(other.open_, nullptr);
    }
    return *this;
  }
  ~ConnectionSlot() { release(); }

  explicit operator bool() const { return open_ != nullptr; }
  void release() {
    if (open_) open_->fetch_sub(1);
    open_ = nullptr;
  }

 private:
  std::atomic<size_t>* open_ = nullptr;
};

// The connections of one kind and their bound.
class ConnectionBound {
 public:
  explicit ConnectionBound(size_t limit) : limit_(limit) {}
  ConnectionSlot take() {
    size_t now = open_.load();
    while (now < limit_) {
      if (open_.compare_exchange_weak(now, now + 1)) return ConnectionSlot(open_);
    }
    return {};
  }

 private:
  const size_t limit_;
  std::atomic<size_t> open_{0};
};

// What every connection needs to know of the server. Lives as long as the server's thread.
struct ServerState {
  ServerState(MainLoop& mainLoop, UiServerOptions options, UiServerHandlers serverHandlers)
      : loop(mainLoop), secret(std::move(options.secret)), handlers(std::move(serverHandlers)) {}

  void setPort(uint16_t port) {
    const std::string at = ":" + std::to_string(port);
    hosts = {"127.0.0.1" + at, "localhost" + at};
    origins = {"http://" + hosts[0], "http://" + hosts[1]};
    contentSecurityPolicy =
        "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
        "connect-src 'self' ws://" +
        hosts[0] + " ws://" + hosts[1] +
        "; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
  }

  MainLoop& loop;
  const std::string secret;
  const UiServerHandlers handlers;
  std::array<std::string, 2> hosts;
  std::array<std::string, 2> origins;
  std::string contentSecurityPolicy;
  ConnectionBound httpConnections{kMaxHttpConnections};
  ConnectionBound strangerChannels{kMaxStrangerChannels};
  ConnectionBound channels{kMaxChannels};
};

// True when the header occurs exactly once and its value is one of `allowed`.
template <class Fields>
bool headerIsOneOf(const Fields& fields, http::field field,
                   const std::array<std::string, 2>& allowed) {
  if (fields.count(field) != 1) return false;
  const beast::string_view value = fields[field];
  for (const std::string& candidate : allowed) {
    if (value == candidate) return true;
  }
  return false;
}

// Whether the peer has ended its side of the connection (or the connection has failed),
// without reading anything it sent.
bool peerHasGone(tcp::socket& socket) {
  pollfd watched{socket.native_handle(), POLLRDHUP, 0};
  return ::poll(&watched, 1, 0) > 0 && (watched.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

class ChannelSession;

// The open channels by number, for sending from the main loop.
class ChannelRegistry {
 public:
  uint64_t add(std::weak_ptr<ChannelSession> session) {
    std::lock_guard lock(mutex_);
    const uint64_t id = nextId_++;
    sessions_.emplace(id, std::move(session));
    return id;
  }
  void remove(uint64_t id) {
    std::lock_guard lock(mutex_);
    sessions_.erase(id);
  }
  std::shared_ptr<ChannelSession> find(uint64_t id) {
    std::lock_guard lock(mutex_);
    auto found = sessions_.find(id);
    return found == sessions_.end() ? nullptr : found->second.lock();
  }

 private:
  std::mutex mutex_;
  std::map<uint64_t, std::weak_ptr<ChannelSession>> sessions_;
  uint64_t nextId_ = 1;
};

// One WebSocket connection, from the upgrade to its end. Everything runs on the connection's
// strand (the executor of its socket).
class ChannelSession : public std::enable_shared_from_this<ChannelSession> {
 public:
  ChannelSession(tcp::socket socket, ServerState& server, ChannelRegistry& registry,
                 ConnectionSlot strangerSlot)
      : ws_(std::move(socket)),
        server_(server),
        registry_(registry),
        slot_(std::move(strangerSlot)),
        secretTimer_(ws_.get_executor()),
        peerCheck_(ws_.get_executor()) {}

  void accept(const Request& request) {
    beast::get_lowest_layer(ws_).expires_never();  // the WebSocket keeps its own time from here
    ws_.set_option(readingTimeouts());
    websocket::permessage_deflate deflate;
    deflate.server_enable = false;
    deflate.client_enable = false;
    ws_.set_option(deflate);
    ws_.read_message_max(kMaxSecretMessageBytes);
    ws_.auto_fragment(false);
    ws_.async_accept(request, [self = shared_from_this()](beast::error_code error) {
      if (!error) self->onAccepted();
    });
  }

  // From any thread.
  void send(Frame frame) {
    net::post(ws_.get_executor(), [self = shared_from_this(), frame = std::move(frame)]() mutable {
      self->enqueue(std::move(frame));
    });
  }

  // From any thread.
  void settled(size_t bytes) {
    net::post(ws_.get_executor(), [self = shared_from_this(), bytes] { self->onSettled(bytes); });
  }

 private:
  // A frame as it goes out: its fields, then the message's bytes as they came, uncopied.
  struct Outgoing {
    std::vector<uint8_t> head;  // with serve's length prefix, which is skipped
    std::vector<uint8_t> message;
    size_t size() const { return head.size() - kFrameHeaderSize + message.size(); }
    std::array<net::const_buffer, 2> buffers() const {
      return {net::buffer(head.data() + kFrameHeaderSize, head.size() - kFrameHeaderSize),
              net::buffer(message)};
    }
  };

  static websocket::stream_base::timeout readingTimeouts() {
    websocket::stream_base::timeout timeout{};
    timeout.handshake_timeout = kSecretTimeout;
    timeout.idle_timeout = kIdleTimeout;
    timeout.keep_alive_pings = true;
    return timeout;
  }

  // While the connection is not read its pongs are not either: the idle timeout would end a
  // page that merely waits for a long scan. peerCheck_ watches for its end instead.
  static websocket::stream_base::timeout heldTimeouts() {
    websocket::stream_base::timeout timeout = readingTimeouts();
    timeout.idle_timeout = websocket::stream_base::none();
    timeout.keep_alive_pings = false;
    return timeout;
  }

  void onAccepted() {
    secretTimer_.expires_after(kSecretTimeout);
    secretTimer_.async_wait([self = shared_from_this()](beast::error_code error) {
      if (!error && !self->id_)
        self->close(websocket::close_code::policy_error, "no secret in time");
    });
    read();
  }

  void read() {
    reading_ = true;
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code error, size_t) {
      self->onMessage(error);
    });
  }

  void onMessage(beast::error_code error) {
    reading_ = false;
    if (error) {
      finish();
      return;
    }
    // After a close has begun, what still arrives is read only to see the closing handshake out.
    if (!closing_) {
      if (!id_) {
        checkSecret();
      } else if (!ws_.got_binary()) {
        close(websocket::close_code::unknown_data, "frames travel as binary messages");
      } else {
        handOn();
      }
    }
    buffer_.consume(buffer_.size());
    if (buffer_.capacity() > kKeptReadBuffer) buffer_.shrink_to_fit();
    if (holdsBack()) {
      hold();
    } else {
      read();
    }
  }

  void checkSecret() {
    const std::string& secret = server_.secret;
    const auto bytes = buffer_.cdata();
    const bool matches = ws_.got_text() && bytes.size() == secret.size() &&
                         CRYPTO_memcmp(bytes.data(), secret.data(), secret.size()) == 0;
    if (!matches) {
      close(websocket::close_code::policy_error, "wrong secret");
      return;
    }
    secretTimer_.cancel();
    slot_ = server_.channels.take();
    if (!slot_) {
      close(websocket::close_code::try_again_later, "too many pages open");
      return;
    }
    ws_.read_message_max(kMaxMessageBytes);
    id_ = registry_.add(weak_from_this());
  }

  void handOn() {
    const auto bytes = buffer_.cdata();
    Decoded<Frame> frame =
        decodeFrameBody({static_cast<const uint8_t*>(bytes.data()), bytes.size()});
    if (!frame) {
      close(websocket::close_code::bad_payload, "malformed frame");
      return;
    }
    ++unsettledFrames_;
    unsettledBytes_ += bytes.size();
    server_.loop.post(
        [&server = server_, id = *id_, frame = std::move(*frame.value),
         size = bytes.size()]() mutable { server.handlers.onFrame(id, std::move(frame), size); });
  }

  // Whether reading waits for earlier frames to be settled.
  bool holdsBack() const {
    return !closing_ &&
           (unsettledFrames_ >= kMaxUnsettledFrames || unsettledBytes_ >= kMaxUnsettledBytes);
  }

  // Reading stops until onSettled(); meanwhile the peer check's pending wait is what keeps the
  // session alive.
  void hold() {
    ws_.set_option(heldTimeouts());
    checkPeer();
  }

  void checkPeer() {
    peerCheck_.expires_after(kPeerCheck);
    peerCheck_.async_wait([self = shared_from_this()](beast::error_code error) {
      if (error || self->reading_ || self->closing_) return;
      if (peerHasGone(beast::get_lowest_layer(self->ws_).socket())) {
        self->drop();
      } else {
        self->checkPeer();
      }
    });
  }

  void onSettled(size_t bytes) {
    --unsettledFrames_;
    unsettledBytes_ -= bytes;
    if (reading_ || closing_ || holdsBack()) return;
    peerCheck_.cancel();
    ws_.set_option(readingTimeouts());
    read();
  }

  void enqueue(Frame frame) {
    if (closing_) return;
    Outgoing out{encodeFrameHead(frame), std::move(frame.message).value_or(Bytes{})};
    if (!queue_.empty() && queuedBytes_ + out.size() > kMaxQueuedBytes) {
      drop();
      return;
    }
    queuedBytes_ += out.size();
    queue_.push_back(std::move(out));
    if (queue_.size() == 1) write();
  }

  void write() {
    ws_.binary(true);
    ws_.async_write(queue_.front().buffers(),
                    [self = shared_from_this()](beast::error_code error, size_t) {
                      if (error) {
                        self->drop();
                        return;
                      }
                      self->queuedBytes_ -= self->queue_.front().size();
                      self->queue_.pop_front();
                      if (!self->queue_.empty() && !self->closing_) self->write();
                    });
  }

  // Begins the closing handshake; reading goes on until the peer's close or the timeout, and
  // what arrives meanwhile is dropped, so it is read in small messages only.
  void close(websocket::close_code code, const char* reason) {
    if (closing_) return;
    closing_ = true;
    ws_.read_message_max(kMaxSecretMessageBytes);
    ws_.async_close(websocket::close_reason(code, reason),
                    [self = shared_from_this()](beast::error_code) {});
  }

  // Ends the connection at once: the pending read and write fail, and finish() follows.
  void drop() {
    closing_ = true;
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
    // Held back, there is no read to fail.
    if (!reading_) finish();
  }

  void finish() {
    if (finished_) return;
    finished_ = true;
    secretTimer_.cancel();
    peerCheck_.cancel();
    closing_ = true;
    queue_.clear();
    slot_.release();
    if (!id_) return;
    registry_.remove(*id_);
    server_.loop.post([&server = server_, id = *id_] { server.handlers.onClosed(id); });
  }

  websocket::stream<beast::tcp_stream> ws_;
  ServerState& server_;
  ChannelRegistry& registry_;
  ConnectionSlot slot_;  // a stranger's until the secret, then a page's
  net::steady_timer secretTimer_;
  net::steady_timer peerCheck_;
  beast::flat_buffer buffer_;
  std::optional<uint64_t> id_;  // set once the secret has been shown
  bool reading_ = false;
  bool closing_ = false;
  bool finished_ = false;
  size_t unsettledFrames_ = 0;
  size_t unsettledBytes_ = 0;
  std::deque<Outgoing> queue_;  // the front one is being written
  size_t queuedBytes_ = 0;
};

// Read errors that are the request's own fault, answered 400. The others (the client went
// away or was too slow, headers over the limit) end the connection without an answer.
bool isMalformedRequest(beast::error_code error) {
  if (error.category() != beast::http::make_error_code(http::error::bad_target).category())
    return false;
  return error != http::error::end_of_stream && error != http::error::partial_message &&
         error != http::error::header_limit && error != http::error::buffer_overflow;
}

// One HTTP connection: requests one after the other until it closes or becomes a channel.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket socket, ServerState& server, ChannelRegistry& registry,
              ConnectionSlot slot)
      : stream_(std::move(socket)), server_(server), registry_(registry), slot_(std::move(slot)) {}

  void run() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->read(); });
  }

 private:
  void read() {
    parser_.emplace();
    parser_->header_limit(kMaxHeaderBytes);
    stream_.expires_after(kRequestTimeout);
    http::async_read_header(
        stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code error, size_t) {
          if (!error) {
            self->onRequest();
          } else if (isMalformedRequest(error)) {
            self->respond(http::status::bad_request, "Bad request.\n", false, false);
          }
        });
  }

  void onRequest() {
    const Request& request = parser_->get();
    const bool head = request.method() == http::verb::head;
    // Nothing here reads a body, and the bytes after one could not be told from a next request.
    if (request.count(http::field::transfer_encoding) != 0 ||
        parser_->content_length().value_or(0) > 0) {
      return respond(http::status::bad_request, "No request here has a body.\n", head, false);
    }
    if (!headerIsOneOf(request, http::field::host, server_.hosts)) {
      return respond(http::status::misdirected_request, "Unknown host.\n", head, false);
    }
    if (!head && request.method() != http::verb::get) {
      return respond(http::status::method_not_allowed, "Only GET and HEAD.\n", head, false);
    }
    if (request.target() == kChannelPath) {
      if (!websocket::is_upgrade(request)) {
        return respond(http::status::upgrade_required, "WebSocket only.\n", head, false);
      }
      if (!headerIsOneOf(request, http::field::origin, server_.origins)) {
        return respond(http::status::forbidden, "Not from this page.\n", head, false);
      }
      ConnectionSlot stranger = server_.strangerChannels.take();
      if (!stranger) {
        return respond(http::status::service_unavailable, "Too many connections.\n", head, false);
      }
      stream_.expires_never();
      std::make_shared<ChannelSession>(stream_.release_socket(), server_, registry_,
                                       std::move(stranger))
          ->accept(request);
      return;
    }
    const std::string_view target(request.target().data(), request.target().size());
    const WebAsset* asset = findWebAsset(target);
    if (!asset) return respond(http::status::not_found, "Not found.\n", head, request.keep_alive());
    const std::span<const char> bytes(reinterpret_cast<const char*>(asset->bytes.data()),
                                      asset->bytes.size());
    respond(http::status::ok, bytes, asset->contentType, head, request.keep_alive());
  }

  void respond(http::status status, std::string_view text, bool head, bool keepAlive) {
    respond(status, textSpan(text), "text/plain; charset=utf-8", head, keepAlive);
  }

  void respond(http::status status, std::span<const char> body, std::string_view contentType,
               bool head, bool keepAlive) {
    response_.emplace(status, parser_->get().version());
    Response& response = *response_;
    response.set(http::field::content_type, contentType);
    response.set("Content-Security-Policy", server_.contentSecurityPolicy);
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Referrer-Policy", "no-referrer");
    response.set(http::field::cache_control, "no-store");
    if (status == http::status::method_not_allowed) response.set(http::field::allow, "GET, HEAD");
    response.keep_alive(keepAlive);
    // HEAD: the same headers, the length of the body that GET would have, no body.
    response.content_length(body.size());
    if (!head) response.body() = Body::value_type(body.data(), body.size());
    http::async_write(stream_, response,
                      [self = shared_from_this(), keepAlive](beast::error_code error, size_t) {
                        if (error) return;
                        if (keepAlive) {
                          self->read();
                        } else {
                          self->linger();
                        }
                      });
  }

  // The answer has gone and the connection ends: nothing more is sent, and what the client
  // still sends is read and dropped, never parsed, until it stops or for kLingerTime.
  void linger() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(kLingerTime);
    drain();
  }

  void drain() {
    stream_.async_read_some(net::buffer(discarded_),
                            [self = shared_from_this()](beast::error_code error, size_t read) {
                              self->lingered_ += read;
                              if (!error && self->lingered_ < kMaxLingerBytes) self->drain();
                            });
  }

  beast::tcp_stream stream_;
  ServerState& server_;
  ChannelRegistry& registry_;
  ConnectionSlot slot_;
  beast::flat_buffer buffer_{kMaxHeaderBytes};
  std::optional<http::request_parser<http::empty_body>> parser_;
  std::optional<Response> response_;
  std::array<char, 4096> discarded_;
  size_t lingered_ = 0;
};

class BeastUiServer final : public UiServer {
 public:
  BeastUiServer(MainLoop& loop, UiServerOptions options, UiServerHandlers handlers)
      : state_(loop, std::move(options), std::move(handlers)),
        acceptor_(net::make_strand(io_)),
        retry_(acceptor_.get_executor()),
        signals_(io_, SIGINT, SIGTERM) {}

  ~BeastUiServer() override {
    io_.stop();
    if (thread_.joinable()) thread_.join();
  }

  bool listen(uint16_t port, std::string& error) {
    beast::error_code failure;
    const tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), port);
    acceptor_.open(endpoint.protocol(), failure);
    if (!failure) acceptor_.set_option(net::socket_base::reuse_address(true), failure);
    if (!failure) acceptor_.bind(endpoint, failure);
    if (!failure) acceptor_.listen(net::socket_base::max_listen_connections, failure);
    if (failure) {
      error = failure.message();
      return false;
    }
    port_ = acceptor_.local_endpoint().port();
    state_.setPort(port_);
    return true;
  }

  void run() {
    accept();
    signals_.async_wait([this](beast::error_code error, int) {
      if (!error) state_.loop.post([this] { state_.handlers.onStopSignal(); });
    });
    thread_ = std::thread([this] { io_.run(); });
  }

  uint16_t port() const override { return port_; }

  void send(uint64_t connection, Frame frame) override {
    if (std::shared_ptr<ChannelSession> session = registry_.find(connection))
      session->send(std::move(frame));
  }

  void settled(uint64_t connection, size_t bytes) override {
    if (std::shared_ptr<ChannelSession> session = registry_.find(connection))
      session->settled(bytes);
  }

 private:
  void accept() {
    acceptor_.async_accept(
        net::make_strand(io_), [this](beast::error_code error, tcp::socket socket) {
          if (!error) {
            // Over the bound the connection is closed unanswered: answering would take the
            // very time and memory the bound is there to keep.
            if (ConnectionSlot slot = state_.httpConnections.take()) {
              std::make_shared<HttpSession>(std::move(socket), state_, registry_, std::move(slot))
                  ->run();
            }
            accept();
            return;
          }
          retry_.expires_after(kAcceptRetry);
          retry_.async_wait([this](beast::error_code) { accept(); });
        });
  }

  ServerState state_;
  ChannelRegistry registry_;
  net::io_context io_{1};
  tcp::acceptor acceptor_;
  net::steady_timer retry_;
  net::signal_set signals_;
  uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<UiServer> UiServer::start(MainLoop& loop, UiServerOptions options,
                                          UiServerHandlers handlers, std::string& error) {
  const uint16_t port = options.port;
  auto server = std::make_unique<BeastUiServer>(loop, std::move(options), std::move(handlers));
  if (!server->listen(port, error)) return nullptr;
  server->run();
  return server;
}

}  // namespace nimbra
