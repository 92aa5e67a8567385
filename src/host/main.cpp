// The `nimbra` program: the launch service stand-in when started under that name, else the
// application: the command line, the window with the chosen front end as its session, and the
// main loop.

#include <unistd.h>

#include <csignal>
#include <memory>
#include <variant>

#include "base/fd_io.h"
#include "host/call_session.h"
#include "host/command_line.h"
#include "host/embedding/main_window.h"
#include "host/launchctl/launchctl_stand_in.h"
#include "host/serve/frame_session.h"
#include "host/serve/json_lines_session.h"
#include "host/ui/ui_session.h"
#include "host/views/view_session.h"
#include "service/main_loop.h"

namespace nimbra {
namespace {

// Answers the exit status when the command line alone decides it; otherwise the process ends
// when the window closes.
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

}  // namespace
}  // namespace nimbra

int main(int argc, char** argv) {
  // Started through the build's `launchctl` link, the program is the launch service stand-in.
  if (argc > 0 && nimbra::isLaunchctlName(argv[0])) return nimbra::launchctlMain(argc, argv);
  return nimbra::applicationMain(argc, argv);
}
