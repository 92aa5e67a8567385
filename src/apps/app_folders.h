#pragma once

// Where the application operations look. The defaults are the machine's own folders; tests
// point them into a temporary folder, so no test ever writes to the real /Applications or
// /Library.

#include <string>

#include "channel/nimbra_native.h"
#include "channel/value.h"

namespace nimbra {

struct AppFolderRoots {
  std::string home;                             // the user's home folder
  std::string applications = "/Applications";  // its "Utilities" subfolder is searched too
  std::string library = "/Library";

  // The real folders, with the home folder read now.
  static AppFolderRoots machine();
};

// listApps() over the given folders.
ValueMap listApplications(NimbraNative& service, const AppFolderRoots& roots);

}  // namespace nimbra
