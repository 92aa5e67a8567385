#include "host/embedding/main_window.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <variant>

#include "host/call_session.h"
#include "host/command_line.h"
#include "base/fd_io.h"
#include "host/serve/frame_session.h"
#include "host/ui/ui_session.h"
#include "host/views/view_session.h"
#include "service/main_loop.h"
#include "service/nimbra_native.h"

namespace nimbra {

PluginRegistrar& PluginRegistry::registrarForPlugin(std::string_view key) {
  registrars_.push_back(std::make_unique<PluginRegistrar>(PluginRegistrar{std::string(key), messenger_}));
  return *registrars_.back();
}

std::vector<std::string> PluginRegistry::keys() const {
  std::vector<std::string> keys;
  keys.reserve(registrars_.size());
  for (const auto& registrar : registrars_) keys.push_back(registrar->key);
  return keys;
}

void registerGeneratedPlugins(PluginRegistry& registry) {
  for (std::string_view key : kGeneratedPluginKeys) registry.registrarForPlugin(key);
}

void AppDelegate::terminate(int status) const {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  ::_exit(status);
}

void MainFlutterWindow::awakeFromNib() {
  contentViewController_ = std::make_unique<ViewController>(engine_);
  // Installing the content view controller may resize the window to the content's size; the
  // frame from the interface description wins.
  const Rect remembered = frame_;
  setFrame(remembered);
  setMinSize(kMinimumSize);
  registerGeneratedPlugins(contentViewController_->registry());
  NimbraNative::registerWith(&contentViewController_->engine());
}

void MainFlutterWindow::setFrame(Rect frame) {
  frame.width = std::max(frame.width, minSize_.width);
  frame.height = std::max(frame.height, minSize_.height);
  frame_ = frame;
}

void MainFlutterWindow::setMinSize(Size size) {
  minSize_ = size;
  setFrame(frame_);
}

void MainFlutterWindow::close(int status) const {
  // It is the only window, and the delegate answers that closing the last one quits.
  delegate_.terminate(status);
}

int applicationMain(int argc, char** argv) {
  Command command = parseCommandLine(argc, argv);
  if (const auto* exit = std::get_if<CommandLineExit>(&command)) {
    (void)writeAll(STDOUT_FILENO, exit->out);
    (void)writeAll(STDERR_FILENO, exit->err);
    return exit->status;
  }
  // A client that stops reading must not kill the process mid-frame; a failed write is
  // reported instead.
  std::signal(SIGPIPE, SIG_IGN);

  // Before any thread exists, so that every thread inherits it: Ctrl-C reaches the people
  // commands' own watcher, never a default handler that would end them without an answer.
  if (std::holds_alternative<ViewCommand>(command)) blockInterrupts();
  MainLoop& loop = MainLoop::main();
  EngineMessenger engine;
  AppDelegate delegate;
  MainFlutterWindow window(engine, delegate);
  std::unique_ptr<InterfaceSession> session;
  if (auto* call = std::get_if<CallOptions>(&command)) {
    session = std::make_unique<CallSession>(window, engine, std::move(*call));
  } else if (auto* view = std::get_if<ViewCommand>(&command)) {
    session = std::make_unique<ViewSession>(window, engine, loop, std::move(*view));
  } else if (auto* ui = std::get_if<UiOptions>(&command)) {
    session = std::make_unique<UiSession>(window, engine, loop, *ui);
  } else if (std::get<ServeOptions>(command).json) {
    session = std::make_unique<JsonLinesSession>(window, engine, loop, STDIN_FILENO, STDOUT_FILENO);
  } else {
    session = std::make_unique<FrameSession>(window, engine, loop, STDIN_FILENO, STDOUT_FILENO);
  }
  loop.post([&] {
    window.awakeFromNib();
    session->start();
  });
  // Returns only if something quits the loop; the sessions end the process by closing the window.
  loop.run();
  return kExitSuccess;
}

}  // namespace nimbra
