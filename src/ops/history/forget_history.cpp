#include "ops/history/forget_history.h"

#include "ops/history/history_access.h"

namespace nimbra {

ValueMap forgetHistory(OperationContext& context, const std::optional<std::string>& path) {
  ValueMap answer{{"forgotten", int64_t{0}}, {"error", ""}, {"cancelled", false}};
  OpenedHistory history = openHistory(context, /*create=*/false, answer);
  if (!history.store) {
    answer["error"] = history.error;
    return answer;
  }
  const std::optional<std::string> root = path ? std::optional(historyKey(*path)) : std::nullopt;
  if (std::optional<int64_t> forgotten = history.store->forget(root)) {
    answer["forgotten"] = *forgotten;
  } else {
    answer["cancelled"] = history.store->interrupted();
    answer["error"] = history.store->interrupted() ? "" : history.store->lastError();
  }
  return answer;
}

}  // namespace nimbra
