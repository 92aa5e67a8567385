#include "ops/apps/uninstall_app.h"

#include <string_view>

#include "base/path_parts.h"
#include "ops/removal/delete_items.h"

namespace nimbra {
namespace {

// As the inventory names applications: case-sensitive.
constexpr std::string_view kBundleSuffix = ".app";

bool namesApplication(const std::string& path) {
  return withoutTrailingSlashes(path).ends_with(kBundleSuffix);
}

}  // namespace

ValueMap uninstallApp(OperationContext& context, const std::vector<std::string>& paths,
                      bool toTrash) {
  std::vector<std::string> applications;
  std::vector<std::string> leftovers;
  for (const std::string& path : paths)
    (namesApplication(path) ? applications : leftovers).push_back(path);

  ItemDeletion deletion(context, toTrash, /*allowAdmin=*/true);
  if (deletion.remove(applications)) {
    deletion.remove(leftovers);
  } else {
    deletion.leave(leftovers, "Nothing else was removed, since the application could not be.");
  }
  return deletion.finish();
}

}  // namespace nimbra
