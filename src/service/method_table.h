#pragma once

#include <functional>
#include <span>
#include <string_view>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

class NimbraNative;

// Where a method runs: answered at once on the main loop, started on the main loop and answered
// later (a panel the user closes), or as a task on the concurrent information queue or the
// serial work queue (whose tasks clear the cancellation flag first).
enum class Runs { main, mainLater, info, work };

// Hands a later answer back; the dispatcher posts it to the main loop.
using Completion = std::function<void(Value)>;

// One row of the method table. `perform` decodes the arguments into the operation's typed
// record and runs the operation with the context built for it; for queued methods both happen
// inside the task, so the folders (and defaults such as the home folder) are read when the task
// starts.
struct MethodEntry {
  std::string_view name;
  Runs runs;
  Value (*perform)(NimbraNative& service, OperationContext& context, const ValueMap& args);
  // Runs::mainLater only, instead of `perform`: starts the operation, which answers once
  // through the completion.
  void (*start)(OperationContext& context, const ValueMap& args, Completion completion) = nullptr;
};

std::span<const MethodEntry> methodTable();
// The row for `name` (exact, case-sensitive), or nullptr: such names are answered "not
// implemented" from the work queue.
const MethodEntry* findMethod(std::string_view name);

}  // namespace nimbra
