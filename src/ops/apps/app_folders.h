#pragma once

// Where the application operations look. The defaults are the machine's own folders; tests
// point them into a temporary folder, so no test ever writes to the real /Applications or
// /Library.

#include <string>

#include "service/nimbra_native.h"
#include "channel/value.h"

namespace nimbra {

struct AppFolderRoots {
  std::string home;                             // the user's home folder
  std::string applications = "/Applications";  // its "Utilities" subfolder is searched too
  std::string library = "/Library";

  // The real folders, with the home folder read now.
  static AppFolderRoots machine();
};

// listApps() and appLeftovers(bundleId, name) over the given folders.
ValueMap listApplications(NimbraNative& service, const AppFolderRoots& roots);
ValueMap findLeftovers(NimbraNative& service, const AppFolderRoots& roots,
                       const std::string& bundleId, const std::string& name);

}  // namespace nimbra
