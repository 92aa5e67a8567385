#include "host/views/view_session.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

#include "base/errno_text.h"
#include "base/fd_io.h"
#include "base/utf8.h"
#include "channel/standard_codec.h"
#include "host/json/json_text.h"
#include "host/views/history_views.h"
#include "host/views/ncdu_export.h"
#include "host/views/trash_commands.h"
#include "service/nimbra_native.h"

namespace nimbra {
namespace {

constexpr const char* kNothingDeleted = ": nothing was deleted";

// The reader of our output went away (`nimbra tree /usr | head -1`): end as du and ncdu do,
// by the signal itself, which shells do not report. It is ignored while the command runs so
// that a failed write can be told from a dead process.
[[noreturn]] void endForClosedPipe() {
  std::signal(SIGPIPE, SIG_DFL);
  std::raise(SIGPIPE);
  ::_exit(128 + SIGPIPE);
}

std::vector<std::string> textsOf(const ValueList& values) {
  std::vector<std::string> texts;
  for (const Value& value : values) {
    if (const std::string* text = value.getIf<std::string>()) texts.push_back(*text);
  }
  return texts;
}

}  // namespace

ViewSession::ViewSession(MainFlutterWindow& window, EngineMessenger& engine, MainLoop& loop,
                         ViewCommand command)
    : window_(window), engine_(engine), loop_(loop), command_(std::move(command)) {}

void ViewSession::start() {
  interrupts_ = std::make_unique<InterruptWatch>([this] {
    // At the question nothing has been sent: the main loop is blocked reading the answer, so
    // the answer is given here, at once.
    if (asking_.exchange(false)) {
      (void)writeAll(STDERR_FILENO, "\n");
      fail(removingCommand() + kNothingDeleted, kExitInterrupted);
    }
    loop_.post([this] {
      engine_.deliverFromInterface(kNativeChannel, encodeMethodCall({"cancel", Value()}), nullptr);
    });
  });
  for (const std::string& complaint : command_.complaints)
    (void)writeAll(STDERR_FILENO, "nimbra: " + complaint + "\n");
  if (!command_.exportNcdu.empty()) {
    // The export rides on the walk that builds the tree.
    export_ = std::make_unique<NcduExport>(command_.exportNcdu,
                                           [this] { return interrupts_->interrupted(); });
    NimbraNative::shared().addDiskWalkSink(export_.get());
  }
  if (::isatty(STDERR_FILENO)) {
    display_.emplace(STDERR_FILENO, terminalColumns(STDERR_FILENO),
                     command_.binaryUnits ? ByteUnits::binary : ByteUnits::decimal);
    engine_.setInterfaceReceiver(
        [this](const std::string& channel, std::vector<uint8_t> message, BinaryReply reply) {
          Decoded<Envelope> envelope = decodeEnvelope(message);
          if (channel == kEventsChannel && envelope && envelope.value->success) {
            if (const ValueMap* event = envelope.value->result.getIf<ValueMap>())
              display_->show(*event);
          }
          if (reply) reply({});
        });
    engine_.deliverFromInterface(kEventsChannel, encodeMethodCall({"listen", Value()}), nullptr);
  }
  if (command_.calls.empty()) window_.close(kExitFailure);  // every path asked about was in error
  send(command_.calls[nextCall_++]);
}

void ViewSession::send(const MethodCall& call) {
  if (display_) display_->expect(call.method);
  engine_.deliverFromInterface(
      kNativeChannel, encodeMethodCall(call),
      [this, method = call.method](std::vector<uint8_t> reply) { onAnswer(method, reply); });
}

void ViewSession::onAnswer(const std::string& method, const std::vector<uint8_t>& reply) {
  if (display_) display_->clear();
  if (reply.empty()) fail("not implemented: " + method, kExitNotImplemented);
  Decoded<Envelope> envelope = decodeEnvelope(reply);
  if (!envelope) fail("undecodable answer to " + method + ": " + envelope.error, kExitFailure);
  if (!envelope.value->success)
    fail(method + " failed: " + envelope.value->code + ": " + envelope.value->message,
         kExitFailure);
  answers_.push_back(std::move(envelope.value->result));
  if (nextCall_ < command_.calls.size()) {
    send(command_.calls[nextCall_++]);
    return;
  }
  if (command_.view == View::junkClean && method == "scanJunk") {
    // Whose the temporary entries are and when they last changed, asked before the plan.
    ValueList temporary;
    for (std::string& path : temporaryJunkPaths(answers_.back(), command_.categories))
      temporary.emplace_back(std::move(path));
    if (temporary.empty()) {
      cleanJunk(answers_.back(), Value());
    } else {
      send({"inspectItems", ValueMap{{"paths", std::move(temporary)}}});
    }
    return;
  }
  if (command_.view == View::changes && method == "diskHistory") {
    // `--since DATE`: the snapshot that date picks, compared with the newest.
    MethodCall history = command_.calls.back();
    const std::optional<int64_t> from = snapshotSince(answers_.back(), *command_.sinceTime);
    if (!from) {
      const std::string error = answerText(answers_.back(), "error");
      fail(error.empty() ? "no snapshot of " + printable(answerText(history.arguments, "path")) +
                               " yet; `nimbra tree PATH --record` records one"
                         : error,
           kExitFailure);
    }
    ValueMap arguments = *history.arguments.getIf<ValueMap>();
    arguments["from"] = *from;
    answers_.pop_back();
    send({"diskChanges", std::move(arguments)});
    return;
  }
  if (command_.view == View::junkClean && method == "inspectItems") {
    cleanJunk(answers_[answers_.size() - 2], answers_.back());
    return;
  }
  if (command_.view == View::trashRestore && method == "listTrash") {
    restoreFromTrash(answers_.back());
    return;
  }
  if (command_.view == View::trashEmpty && method == "listTrash") {
    emptyTrash(answers_.back());
    return;
  }
  show();
}

void ViewSession::cleanJunk(const Value& scan, const Value& inspection) {
  plan_ = planJunkClean(scan, inspection, command_.categories, command_.includeRecent,
                        std::time(nullptr));
  if (!plan_.unknown.empty()) {
    std::string known;
    for (const std::string& id : plan_.known) known += " " + id;
    fail("junk clean: unknown category " + plan_.unknown.front() + " (the categories are:" + known +
             ")",
         kExitUsage);
  }
  if (interrupts_->interrupted())
    fail("junk clean: interrupted before anything was deleted", kExitInterrupted);
  askBeforeRemoving(junkPlanView(plan_, command_.toTrash, viewOptions(listFd())),
                    plan_.remove.size(), "nothing to clean\n");
  ValueList paths;
  for (const JunkItem& item : plan_.remove) paths.emplace_back(item.path);
  if (command_.toTrash) {
    send({"trashItems", ValueMap{{"paths", std::move(paths)}}});
  } else {
    // No password prompt from a command line: what the user may not remove is reported.
    send({"deleteItems",
          ValueMap{{"paths", std::move(paths)}, {"toTrash", false}, {"allowAdmin", false}}});
  }
}

void ViewSession::restoreFromTrash(const Value& listing) {
  if (interrupts_->interrupted())
    fail("trash restore: interrupted before anything was put back", kExitInterrupted);
  const TrashRestorePlan plan = planTrashRestore(listing, command_.paths);
  notInTrash_ = plan.unknown;
  for (const std::string& path : notInTrash_)
    (void)writeAll(STDERR_FILENO,
                   "nimbra: trash restore: " + printable(path) + ": not in the Trash\n");
  if (plan.entries.empty()) fail("trash restore: nothing was put back", kExitFailure);
  ValueList entries;
  for (const std::string& entry : plan.entries) entries.emplace_back(entry);
  send({"restoreItems", ValueMap{{"paths", std::move(entries)}}});
}

void ViewSession::emptyTrash(const Value& listing) {
  if (interrupts_->interrupted())
    fail("trash empty: interrupted before anything was deleted", kExitInterrupted);
  const TrashEmptyPlan plan = planTrashEmpty(listing, command_.olderThanDays, std::time(nullptr));
  askBeforeRemoving(trashEmptyPlanView(plan, command_.olderThanDays, viewOptions(listFd())),
                    plan.entries.size(),
                    command_.olderThanDays ? "nothing to delete\n" : "the Trash is empty\n");
  ValueList entries;
  for (const std::string& entry : plan.entries) entries.emplace_back(entry);
  send({"emptyTrash", ValueMap{{"paths", std::move(entries)}}});
}

void ViewSession::askBeforeRemoving(const std::string& list, size_t count,
                                    const std::string& nothing) {
  // The list is the answer people read before they say yes; with --json, stdout is the
  // method's answer alone.
  writeOut(listFd(), list);
  if (count == 0) {
    writeOut(listFd(), nothing);
    window_.close(kExitSuccess);
  }
  const std::string these =
      count == 1 ? "this item" : "these " + plural(static_cast<int64_t>(count), "item", "items");
  if (command_.yes) return;
  if (!::isatty(STDIN_FILENO)) {
    fail(removingCommand() + ": not on a terminal, so nothing was deleted; add --yes to remove " +
             these,
         kExitFailure);
  }
  const bool toTrash = command_.view == View::junkClean && command_.toTrash;
  if (!confirmed(toTrash ? "Move " + these + " to the Trash?" : "Delete " + these + " for good?"))
    fail(removingCommand() + kNothingDeleted, kExitFailure);
}

std::string ViewSession::removingCommand() const {
  return command_.view == View::trashEmpty ? "trash empty" : "junk clean";
}

int ViewSession::listFd() const { return command_.json ? STDERR_FILENO : STDOUT_FILENO; }

bool ViewSession::confirmed(const std::string& question) {
  asking_ = true;
  (void)writeAll(STDERR_FILENO, question + " [y/N] ");
  std::string answer;
  char c;
  while (::read(STDIN_FILENO, &c, 1) == 1 && c != '\n') answer += c;
  // Ctrl-C after the answer was typed: the watcher has taken over and ends the process.
  if (!asking_.exchange(false)) {
    for (;;) ::pause();
  }
  if (interrupts_->interrupted()) fail(removingCommand() + kNothingDeleted, kExitInterrupted);
  return answer == "y" || answer == "Y" || answer == "yes";
}

void ViewSession::exportTree() {
  const std::string& target = command_.exportNcdu;
  const NcduWrite written = export_->finish(/*keep=*/true);
  if (written.error == EPIPE && target == kStandardOutput) endForClosedPipe();
  if (written.error != 0)
    fail("cannot write " + printable(target) + ": " + errnoText(written.error), kExitFailure);
  if (target == kStandardOutput) return;
  const std::string shown = printable(target);
  if (!written.totals.complete) {
    (void)writeAll(STDERR_FILENO,
                   written.inPlace ? "nimbra: the export written to " + shown + " was cut short\n"
                                   : "nimbra: " + shown + " was left as it was\n");
    return;
  }
  const std::string wrote =
      "wrote " + std::to_string(written.totals.entries) + " entries to " + shown;
  // A device or a FIFO was written as it stands: there is no file to browse.
  (void)writeAll(STDERR_FILENO, written.inPlace
                                    ? wrote + "\n"
                                    : wrote + "; browse them with: ncdu -f " + shown + "\n");
}

ViewOptions ViewSession::viewOptions(int fd) const {
  ViewOptions options;
  // A program reading the output gets every path whole.
  options.columns = ::isatty(fd) ? terminalColumns(fd) : kUnlimitedColumns;
  options.exactBytes = command_.exactBytes;
  options.units = command_.siUnits       ? ByteUnits::si
                  : command_.binaryUnits ? ByteUnits::binary
                                         : ByteUnits::decimal;
  options.unicode = localeSpeaksUtf8();
  options.palette.enabled = colourWanted(fd);
  return options;
}

void ViewSession::show() {
  std::string out;
  const Value& answer = answers_.back();
  if (command_.json) {
    // Exactly what `nimbra call` prints; `junk clean` answers with its deletion, and `size`
    // names the path each answer measured.
    const bool lastAlone = command_.view == View::junkClean ||
                           command_.view == View::trashRestore || command_.view == View::trashEmpty;
    const size_t first = lastAlone ? answers_.size() - 1 : 0;
    for (size_t i = first; i < answers_.size(); ++i) {
      Value shown = answers_[i];
      if (ValueMap* map = shown.getIf<ValueMap>();
          map && command_.view == View::size && i < command_.paths.size()) {
        map->insert_or_assign("path", replaceInvalidUtf8(command_.paths[i]));
      }
      out += toJsonText(shown) + "\n";
    }
  } else if (command_.nullSeparated) {
    out = command_.view == View::large   ? largeFilePathsNul(answer)
          : command_.view == View::trash ? trashEntriesNul(answer)
                                         : duplicatePathsNul(answer);
  } else if (command_.exportNcdu != kStandardOutput) {
    const ViewOptions options = viewOptions(STDOUT_FILENO);
    switch (command_.view) {
      case View::tree: out = treeView(answer, options); break;
      case View::large: out = largeFilesView(answer, options); break;
      case View::dupes: out = duplicatesView(answer, options); break;
      case View::junk: out = junkView(answer, options); break;
      case View::junkClean: {
        const int64_t moved = plannedBytes(plan_, textsOf(answerList(answer, "trashed")));
        out = command_.toTrash ? trashView(answer, moved, options) : deletionView(answer, options);
        break;
      }
      case View::trash: out = trashListView(answer, options); break;
      case View::trashRestore: out = restoreView(answer, options); break;
      case View::trashEmpty: out = deletionView(answer, options); break;
      case View::size:
        out = sizesView(command_.paths, answers_, options, command_.exactBytes || command_.siUnits);
        break;
      case View::sys: out = systemView(answer, options); break;
      case View::mem: out = memoryView(answer, options); break;
      case View::startup: out = startupView(answer, options); break;
      case View::apps: out = appsView(answer, options); break;
      case View::leftovers: out = leftoversView(answer, options); break;
      case View::types: out = typesView(answer, options); break;
      case View::changes: out = changesView(answer, options); break;
      case View::history: out = historyView(answer, options); break;
      case View::historyForget: out = forgetView(answer, command_.folder); break;
    }
  }
  if (export_ && !interrupts_->interrupted()) {
    exportTree();
  } else if (export_) {
    export_->finish(/*keep=*/false);  // an interrupted command leaves the target as it was
  }
  writeOut(STDOUT_FILENO, out);
  if (interrupts_->interrupted())
    fail("interrupted: the result above is partial", kExitInterrupted);
  // What a walk could not read is said as du says it, and the command fails as du does; junk
  // clean's status is its removal's.
  bool unreadable = false;
  for (const Value& walked : answers_) {
    for (const std::string& complaint : unreadableComplaints(walked)) {
      (void)writeAll(STDERR_FILENO, "nimbra: " + complaint + "\n");
      unreadable = command_.view != View::junkClean;
    }
  }
  const ValueMap* last = answer.getIf<ValueMap>();
  if (last && last->count("cancelled") && last->at("cancelled") == Value(true)) {
    (void)writeAll(STDERR_FILENO, "nimbra: cancelled: the result above is partial\n");
  }
  // The history says what became of a broken file, and why nothing was recorded or compared.
  const bool ofHistory = command_.view == View::tree || command_.view == View::changes ||
                         command_.view == View::history || command_.view == View::historyForget;
  bool historyFailed = false;
  if (ofHistory) {
    for (const std::string& complaint : historyComplaints(answer))
      (void)writeAll(STDERR_FILENO, "nimbra: " + complaint + "\n");
    historyFailed =
        !answerText(answer, "recordError").empty() || !answerText(answer, "error").empty();
  }
  if (last && last->count("snapshot") && !last->at("snapshot").isNull() && !command_.json) {
    const std::string folder = printable(answerText(answer, "path"));
    (void)writeAll(STDERR_FILENO, "recorded as snapshot " +
                                      std::to_string(answerNumber(answer, "snapshot")) + " of " +
                                      folder + " (`nimbra changes " + folder +
                                      "` compares the last two)\n");
  }
  const auto failedCount = static_cast<int64_t>(answerList(answer, "failed").size());
  if ((command_.view == View::junkClean || command_.view == View::trashEmpty) && failedCount > 0) {
    fail(removingCommand() + ": " + plural(failedCount, "item was", "items were") + " not removed",
         kExitFailure);
  }
  if (command_.view == View::trashRestore && failedCount + std::ssize(notInTrash_) > 0) {
    fail("trash restore: " +
             plural(failedCount + std::ssize(notInTrash_), "item was", "items were") +
             " not put back",
         kExitFailure);
  }
  window_.close(command_.complaints.empty() && !unreadable && !historyFailed ? kExitSuccess
                                                                             : kExitFailure);
}

void ViewSession::writeOut(int fd, const std::string& text) {
  if (writeAll(fd, text)) return;
  if (errno == EPIPE) endForClosedPipe();
  fail(std::string("cannot write the answer: ") + errnoText(errno), kExitFailure);
}

void ViewSession::fail(const std::string& complaint, int status) {
  closeWithComplaint(window_, complaint, status);
}

}  // namespace nimbra
