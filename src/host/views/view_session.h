#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "host/command_line.h"
#include "host/embedding/main_window.h"
#include "host/interface_session.h"
#include "host/terminal/interrupt_watch.h"
#include "host/terminal/progress_display.h"
#include "host/views/answer_views.h"
#include "host/views/junk_clean.h"
#include "host/views/ncdu_export.h"
#include "service/main_loop.h"

namespace nimbra {

// The commands for people: plays the interface like `nimbra call` (each call encoded, handed
// to the messenger, dispatched on the service's queues, answered on the main loop), one call
// after the other, then prints the view of the answers on stdout — or, with --json, each
// answer as `call` prints it. Exit statuses: 0 shown; 1 a path that could not be looked at,
// an error answer, a refused `junk clean` or one that could not remove everything; 2 an
// unknown junk category; 3 a method not implemented; 130 interrupted by Ctrl-C (the partial
// answer is still shown; at the `junk clean` and `trash empty` question, nothing is deleted).
// `trash restore` fails (1) when it could not put back everything asked for. When the reader
// of stdout goes away, the command ends as du does: by SIGPIPE, quietly. The one-line
// progress display runs on a terminal.
class ViewSession final : public InterfaceSession {
 public:
  // `window` and `engine` are not owned and must outlive the session. Call blockInterrupts()
  // before the first thread starts.
  ViewSession(MainFlutterWindow& window, EngineMessenger& engine, MainLoop& loop,
              ViewCommand command);

  void start() override;

 private:
  void send(const MethodCall& call);
  void onAnswer(const std::string& method, const std::vector<uint8_t>& reply);
  void cleanJunk(const Value& scan, const Value& inspection);
  void restoreFromTrash(const Value& listing);
  void emptyTrash(const Value& listing);
  // Shows `list` (what goes) and asks for consent to delete or move `count` items, unless told
  // --yes; ends the command when nothing goes or nothing may.
  void askBeforeRemoving(const std::string& list, size_t count, const std::string& nothing);
  bool confirmed(const std::string& question);
  // "junk clean" or "trash empty", as the command's complaints begin.
  std::string removingCommand() const;
  // Where the list of what goes is shown: with --json, stdout is the method's answer alone.
  int listFd() const;
  void exportTree();
  [[noreturn]] void show();
  ViewOptions viewOptions(int fd) const;
  // Writes all of `text` to `fd`; a reader that went away ends the process.
  void writeOut(int fd, const std::string& text);
  [[noreturn]] void fail(const std::string& complaint, int status);

  MainFlutterWindow& window_;
  EngineMessenger& engine_;
  MainLoop& loop_;
  ViewCommand command_;
  std::vector<Value> answers_;
  size_t nextCall_ = 0;
  JunkPlan plan_;
  // `trash restore`: paths asked for that are not in the Trash.
  std::vector<std::string> notInTrash_;
  // True while `junk clean` or `trash empty` waits for its answer: Ctrl-C then means "no" at once.
  std::atomic<bool> asking_{false};
  std::optional<ProgressDisplay> display_;
  std::unique_ptr<InterruptWatch> interrupts_;
  // The ncdu export, fed by the walk of the tree's call.
  std::unique_ptr<NcduExport> export_;
};

}  // namespace nimbra
