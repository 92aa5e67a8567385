#include "host/ui/ui_session.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "base/fd_io.h"
#include "base/random_uuid.h"
#include "channel/standard_codec.h"
#include "platform/desktop/desktop_programs.h"
#include "platform/machine/home.h"
#include "service/channel_names.h"
#include "service/method_table.h"

namespace nimbra {
namespace {

// 256 bits: guessing is hopeless even for a local program that may try as often as it likes.
constexpr size_t kSecretBytes = 32;
// How long the opener's page stays when no page shows the secret: time enough for a browser to
// start cold; a page opened later has the printed address.
constexpr std::chrono::seconds kOpenerPageLifetime{60};

// kSecretBytes from the kernel's generator in base64url without padding, or nullopt when the
// generator fails (there is no acceptable weaker source).
std::optional<std::string> newSecret() {
  unsigned char bytes[kSecretBytes];
  if (!kernelRandomBytes(bytes, sizeof bytes)) return std::nullopt;
  std::string text(4 * ((sizeof bytes + 2) / 3) + 1, '\0');
  text.resize(static_cast<size_t>(
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes, sizeof bytes)));
  OPENSSL_cleanse(bytes, sizeof bytes);
  while (!text.empty() && text.back() == '=') text.pop_back();
  for (char& c : text) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  return text;
}

enum class StreamVerb { none, listen, cancel };

// "listen" and "cancel" are the event channel's protocol; on any channel they start and end
// the stream of what the host sends there.
StreamVerb streamVerb(const std::vector<uint8_t>& message) {
  Decoded<MethodCall> call = decodeMethodCall(message);
  if (!call) return StreamVerb::none;
  if (call.value->method == "listen") return StreamVerb::listen;
  if (call.value->method == "cancel") return StreamVerb::cancel;
  return StreamVerb::none;
}

bool isSuccessEnvelope(const std::vector<uint8_t>& reply) {
  return !reply.empty() && reply[0] == 0;
}

// Whether the service runs this frame's call on its serial work queue: a method of the work
// table, or a name it does not know, which it answers from that queue too.
bool isWorkCall(const Frame& frame) {
  if (frame.channel != kNativeChannel || !frame.message) return false;
  Decoded<MethodCall> call = decodeMethodCall(*frame.message);
  if (!call) return false;
  const MethodEntry* entry = findMethod(call.value->method);
  return !entry || entry->runs == Runs::work;
}

}  // namespace

UiSession::UiSession(MainFlutterWindow& window, EngineMessenger& engine, MainLoop& loop,
                     UiOptions options)
    : window_(window), engine_(engine), loop_(loop), options_(options) {}

void UiSession::start() {
  if (::geteuid() == 0 && !options_.allowRoot) {
    closeWithComplaint(
        window_,
        "refusing to run as root: whoever holds the page's address could delete anything "
        "on this machine. Run it as your own user, or pass --allow-root if you mean it.",
        kExitFailure);
  }
  std::optional<std::string> secret = newSecret();
  if (!secret) {
    closeWithComplaint(window_, std::string("no random secret: ") + std::strerror(errno),
                       kExitFailure);
  }
  UiServerHandlers handlers{
      [this](uint64_t connection, Frame frame, size_t bytes) {
        onFrame(Incoming{connection, std::move(frame), bytes});
      },
      [this](uint64_t connection) { onClosed(connection); },
      [this] {
        removeOpenerPage();
        window_.close(kExitSuccess);
      },
  };
  std::string error;
  server_ =
      UiServer::start(loop_, UiServerOptions{options_.port, *secret}, std::move(handlers), error);
  if (!server_) {
    closeWithComplaint(window_,
                       "cannot listen on 127.0.0.1:" + std::to_string(options_.port) + ": " + error,
                       kExitFailure);
  }
  engine_.setInterfaceReceiver(
      [this](const std::string& channel, std::vector<uint8_t> message, BinaryReply reply) {
        onHostMessage(channel, std::move(message), std::move(reply));
      });

  const std::string address =
      "http://127.0.0.1:" + std::to_string(server_->port()) + "/#t=" + *secret;
  if (!writeAll(STDOUT_FILENO, address + "\n")) {
    closeWithComplaint(window_, std::string("cannot print the address: ") + std::strerror(errno),
                       kExitFailure);
  }
  if (options_.open) openInBrowser(address);
}

void UiSession::openInBrowser(const std::string& address) {
  const std::string folder = temporaryDirectory();
  openerPage_ = OpenerPage::create(folder, address);
  if (!openerPage_) {
    (void)writeAll(STDERR_FILENO, "nimbra: cannot write a page for the browser in " + folder +
                                      ": " + std::strerror(errno) +
                                      "; open the address above in one\n");
    return;
  }
  std::optional<pid_t> opener = startDetached("xdg-open", {openerPage_->url()});
  if (!opener) {
    removeOpenerPage();
    (void)writeAll(STDERR_FILENO,
                   "nimbra: no browser could be opened; open the address above in one\n");
    return;
  }
  std::thread([pid = *opener] { reapChild(pid); }).detach();
  std::thread([this] {
    std::this_thread::sleep_for(kOpenerPageLifetime);
    loop_.post([this] { removeOpenerPage(); });
  }).detach();
}

void UiSession::removeOpenerPage() {
  if (openerPage_) openerPage_->remove();
}

void UiSession::onFrame(Incoming incoming) {
  // A page that has shown the secret has read the opener's page, if it came that way.
  removeOpenerPage();
  if (incoming.frame.kind == FrameKind::answer) {
    server_->settled(incoming.connection, incoming.bytes);
    return;
  }
  if (!isWorkCall(incoming.frame)) {
    deliver(std::move(incoming), false);
    return;
  }
  waitingWork_.push_back(std::move(incoming));
  if (!workRunning_) startNextWork();
}

void UiSession::startNextWork() {
  if (waitingWork_.empty()) return;
  Incoming next = std::move(waitingWork_.front());
  waitingWork_.pop_front();
  workRunning_ = true;
  runningWorkOf_ = next.connection;
  deliver(std::move(next), true);
}

void UiSession::deliver(Incoming incoming, bool work) {
  std::vector<uint8_t> message = std::move(incoming.frame.message).value_or(Bytes{});
  const StreamVerb verb = streamVerb(message);
  const bool wantsAnswer = incoming.frame.kind == FrameKind::request;
  engine_.deliverFromInterface(
      incoming.frame.channel, std::move(message),
      [this, connection = incoming.connection, bytes = incoming.bytes, verb, wantsAnswer, work,
       id = incoming.frame.id, channel = incoming.frame.channel](std::vector<uint8_t> reply) {
        if (verb == StreamVerb::listen && isSuccessEnvelope(reply))
          listeners_[channel] = connection;
        if (verb == StreamVerb::cancel && isSuccessEnvelope(reply)) {
          auto listener = listeners_.find(channel);
          if (listener != listeners_.end() && listener->second == connection)
            listeners_.erase(listener);
        }
        if (wantsAnswer)
          server_->send(connection, Frame{FrameKind::answer, id, channel, std::move(reply)});
        server_->settled(connection, bytes);
        if (work) {
          workRunning_ = false;
          runningWorkOf_.reset();
          startNextWork();
        }
      });
}

void UiSession::onClosed(uint64_t connection) {
  std::erase_if(listeners_,
                [connection](const auto& listener) { return listener.second == connection; });
  std::erase_if(waitingWork_,
                [connection](const Incoming& waiting) { return waiting.connection == connection; });
  if (runningWorkOf_ == connection) {
    runningWorkOf_.reset();
    // The same "cancel" a page sends: answered at once, read by the running work task.
    engine_.deliverFromInterface(kNativeChannel, encodeMethodCall(MethodCall{"cancel", Value()}),
                                 [](std::vector<uint8_t>) {});
  }
}

void UiSession::onHostMessage(const std::string& channel, std::vector<uint8_t> message,
                              BinaryReply reply) {
  if (reply) {
    reply({});
    return;
  }
  auto listener = listeners_.find(channel);
  if (listener != listeners_.end()) {
    server_->send(listener->second, Frame{FrameKind::notice, 0, channel, std::move(message)});
  }
}

}  // namespace nimbra
