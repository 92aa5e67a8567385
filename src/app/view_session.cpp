#include "app/view_session.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "app/answer_views.h"
#include "app/fd_io.h"
#include "app/json_value.h"
#include "app/ncdu_export.h"
#include "channel/nimbra_native.h"
#include "channel/standard_codec.h"

namespace nimbra {
namespace {

// Everything the chosen junk categories hold: their ids must all be in the scan's answer.
struct JunkSelection {
  std::vector<std::string> paths;
  int64_t bytes = 0;
  std::vector<std::string> unknown;
  std::vector<std::string> known;
};

JunkSelection selectJunk(const Value& scan, const std::vector<std::string>& ids) {
  JunkSelection selection;
  std::set<std::string> found;
  const ValueMap* answer = scan.getIf<ValueMap>();
  const auto categories = answer && answer->count("categories") ? answer->at("categories").getIf<ValueList>() : nullptr;
  for (const Value& entry : categories ? *categories : ValueList{}) {
    const ValueMap* category = entry.getIf<ValueMap>();
    const std::string* id = category && category->count("id") ? category->at("id").getIf<std::string>() : nullptr;
    if (!id) continue;
    selection.known.push_back(*id);
    if (std::find(ids.begin(), ids.end(), *id) == ids.end()) continue;
    found.insert(*id);
    const ValueList* items = category->count("items") ? category->at("items").getIf<ValueList>() : nullptr;
    for (const Value& item : items ? *items : ValueList{}) {
      const ValueMap* map = item.getIf<ValueMap>();
      if (!map || !map->count("path") || !map->at("path").getIf<std::string>()) continue;
      selection.paths.push_back(*map->at("path").getIf<std::string>());
      selection.bytes += map->count("size") ? intValue(map->at("size")).value_or(0) : 0;
    }
  }
  for (const std::string& id : ids) {
    if (!found.contains(id)) selection.unknown.push_back(id);
  }
  return selection;
}

// One answer from the terminal: true for "y" or "yes".
bool confirmed(const std::string& question) {
  (void)writeAll(STDERR_FILENO, question + " [y/N] ");
  std::string answer;
  char c;
  while (::read(STDIN_FILENO, &c, 1) == 1 && c != '\n') answer += c;
  return answer == "y" || answer == "Y" || answer == "yes";
}

}  // namespace

ViewSession::ViewSession(MainFlutterWindow& window, EngineMessenger& engine, MainLoop& loop, ViewCommand command)
    : window_(window), engine_(engine), loop_(loop), command_(std::move(command)) {}

void ViewSession::start() {
  interrupts_ = std::make_unique<InterruptWatch>([this] {
    loop_.post([this] { engine_.deliverFromInterface(kNativeChannel, encodeMethodCall({"cancel", Value()}), nullptr); });
  });
  if (::isatty(STDERR_FILENO)) {
    display_.emplace(STDERR_FILENO, terminalColumns(STDERR_FILENO));
    engine_.setInterfaceReceiver([this](const std::string& channel, std::vector<uint8_t> message, BinaryReply reply) {
      Decoded<Envelope> envelope = decodeEnvelope(message);
      if (channel == kEventsChannel && envelope && envelope.value->success) {
        if (const ValueMap* event = envelope.value->result.getIf<ValueMap>()) display_->show(*event);
      }
      if (reply) reply({});
    });
    engine_.deliverFromInterface(kEventsChannel, encodeMethodCall({"listen", Value()}), nullptr);
  }
  if (command_.calls.empty()) show();
  send(command_.calls[nextCall_++]);
}

void ViewSession::send(const MethodCall& call) {
  engine_.deliverFromInterface(kNativeChannel, encodeMethodCall(call),
                               [this, method = call.method](std::vector<uint8_t> reply) { onAnswer(method, reply); });
}

void ViewSession::onAnswer(const std::string& method, const std::vector<uint8_t>& reply) {
  if (display_) display_->clear();
  if (reply.empty()) fail("not implemented: " + method, kExitNotImplemented);
  Decoded<Envelope> envelope = decodeEnvelope(reply);
  if (!envelope) fail("undecodable answer to " + method + ": " + envelope.error, kExitFailure);
  if (!envelope.value->success) fail(method + " failed: " + envelope.value->code + ": " + envelope.value->message, kExitFailure);
  answers_.push_back(std::move(envelope.value->result));
  if (nextCall_ < command_.calls.size()) {
    send(command_.calls[nextCall_++]);
    return;
  }
  if (command_.view == View::junkClean && method == "scanJunk") {
    cleanJunk();
    return;
  }
  show();
}

void ViewSession::cleanJunk() {
  const JunkSelection selection = selectJunk(answers_.back(), command_.categories);
  if (!selection.unknown.empty()) {
    std::string known;
    for (const std::string& id : selection.known) known += " " + id;
    fail("junk clean: unknown category " + selection.unknown.front() + " (the categories are:" + known + ")", kExitUsage);
  }
  if (interrupts_->interrupted()) fail("junk clean: interrupted before anything was deleted", kExitInterrupted);
  if (selection.paths.empty()) {
    (void)writeAll(STDOUT_FILENO, "nothing to clean\n");
    window_.close(kExitSuccess);
  }
  const std::string what = std::to_string(selection.paths.size()) + " items, " + formatByteCount(selection.bytes);
  if (!command_.yes) {
    if (!::isatty(STDIN_FILENO)) fail("junk clean: not on a terminal, so nothing was deleted; add --yes to delete " + what, kExitFailure);
    if (!confirmed("Delete " + what + (command_.toTrash ? " by way of the Trash?" : " for good?"))) {
      fail("junk clean: nothing was deleted", kExitFailure);
    }
  }
  ValueList paths(selection.paths.begin(), selection.paths.end());
  // No password prompt from a command line: what the user may not remove is reported.
  send({"deleteItems", ValueMap{{"paths", std::move(paths)}, {"toTrash", command_.toTrash}, {"allowAdmin", false}}});
}

void ViewSession::show() {
  std::string out;
  if (command_.json) {
    // Exactly what `nimbra call` prints; `junk clean` answers with its deletion.
    const size_t first = command_.view == View::junkClean ? answers_.size() - 1 : 0;
    for (size_t i = first; i < answers_.size(); ++i) out += toJsonText(answers_[i]) + "\n";
  } else {
    ViewOptions options;
    options.columns = ::isatty(STDOUT_FILENO) ? terminalColumns(STDOUT_FILENO) : 100;
    options.exactBytes = command_.exactBytes;
    options.palette.enabled = colourWanted(STDOUT_FILENO);
    const Value& answer = answers_.back();
    switch (command_.view) {
      case View::tree: out = treeView(answer, options); break;
      case View::large: out = largeFilesView(answer, options); break;
      case View::dupes: out = duplicatesView(answer, options); break;
      case View::junk: out = junkView(answer, options); break;
      case View::junkClean: out = deletionView(answer, options); break;
      case View::size: out = sizesView(command_.paths, answers_, options); break;
      case View::sys: out = systemView(answer, options); break;
      case View::mem: out = memoryView(answer, options); break;
      case View::startup: out = startupView(answer, options); break;
      case View::apps: out = appsView(answer, options); break;
      case View::leftovers: out = leftoversView(answer, options); break;
    }
  }
  if (!command_.exportNcdu.empty() && !interrupts_->interrupted()) {
    const ValueMap* tree = answers_.back().getIf<ValueMap>();
    const std::string* root = tree && tree->count("path") ? tree->at("path").getIf<std::string>() : nullptr;
    std::ofstream file(command_.exportNcdu, std::ios::binary | std::ios::trunc);
    const NcduExportTotals totals = exportNcdu(root ? *root : "", file, [this] { return interrupts_->interrupted(); });
    file.close();
    if (!file) fail("cannot write " + command_.exportNcdu, kExitFailure);
    (void)writeAll(STDERR_FILENO, "wrote " + std::to_string(totals.entries) + " entries to " + command_.exportNcdu +
                                      "; browse them with: ncdu -f " + command_.exportNcdu + "\n");
  }
  if (!writeAll(STDOUT_FILENO, out)) fail("cannot write the answer", kExitFailure);
  if (interrupts_->interrupted()) fail("interrupted: the result above is partial", kExitInterrupted);
  const ValueMap* last = answers_.back().getIf<ValueMap>();
  if (last && last->count("cancelled") && last->at("cancelled") == Value(true)) {
    (void)writeAll(STDERR_FILENO, "nimbra: cancelled: the result above is partial\n");
  }
  window_.close(kExitSuccess);
}

void ViewSession::fail(const std::string& complaint, int status) { closeWithComplaint(window_, complaint, status); }

}  // namespace nimbra
