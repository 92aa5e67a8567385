#include "ops/unreadable_answer.h"

#include "base/errno_text.h"
#include "base/utf8.h"

namespace nimbra {

void addUnreadable(ValueMap& answer, const UnreadableFolders& folders) {
  ValueList listed;
  for (const UnreadableFolder& folder : folders.first) {
    // A path that is not UTF-8 cannot travel to the interface; the count still holds it.
    if (!isValidUtf8(folder.path)) continue;
    listed.emplace_back(ValueMap{{"path", folder.path}, {"error", errnoText(folder.error)}});
  }
  answer["unreadable"] = folders.count;
  answer["unreadableFolders"] = std::move(listed);
}

}  // namespace nimbra
