#pragma once

#include <memory>
#include <string>
#include <vector>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "deleteItems", and uninstallApp through it: the single path by which anything is removed.
// Each of `paths` goes for good, or with `toTrash` through the Trash, which it leaves again at
// once; what stands after that goes to one administrator script for all (`allowAdmin`), unless
// it holds a mount point. Nothing outside an item is touched: no link is followed, no mount
// crossed, and "/", "X/.." and their kin are refused on every route.
//
// Work queue (startup item removal calls it on the information queue); blocks for the
// removals and the password prompt. Cancellation stops only the emptying of a folder that
// would not go; the measurements are never cut short. Progress "delete" per path, forced at the
// end. Answer: {"freed": bytes, "failed": [caller's paths still standing], "inTrash": [paths
// that could not leave the Trash], "inTrashBytes", "error": the first failures' texts}.
ValueMap deleteItems(OperationContext& context, const std::vector<std::string>& paths, bool toTrash,
                     bool allowAdmin);

// deleteItems in steps, for an operation that decides after one step whether the next is taken
// (uninstallApp: the leftovers only once the application is gone). One answer and one final
// progress event for all the steps; the progress positions go on from step to step.
class ItemDeletion {
 public:
  ItemDeletion(OperationContext& context, bool toTrash, bool allowAdmin);
  ~ItemDeletion();
  ItemDeletion(const ItemDeletion&) = delete;
  ItemDeletion& operator=(const ItemDeletion&) = delete;

  // Removes `paths` as deleteItems does, its administrator step included. Answers whether
  // every one of them is gone from its place (an item left in the Trash is).
  bool remove(const std::vector<std::string>& paths);
  // Reports `paths` failed without touching them; `why` becomes one line of "error".
  void leave(const std::vector<std::string>& paths, const std::string& why);
  // Sends the final progress event and answers for every step; call once, last.
  ValueMap finish();

 private:
  struct Tally;
  OperationContext& context_;
  bool toTrash_;
  bool allowAdmin_;
  int64_t position_ = 0;
  std::unique_ptr<Tally> tally_;
};

}  // namespace nimbra
