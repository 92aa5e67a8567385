#pragma once

// What the commands for people make sure of before they ask the service about a path given on
// the command line. The methods answer a root that is missing, unreadable or not a folder with
// an empty result, which a person reads as "0 B"; the commands say what is wrong instead, in
// du's words ("PATH: No such file or directory"), and go on with the other paths.

#include <string>

namespace nimbra {

struct CheckedRoot {
  std::string root;   // the folder to walk
  std::string error;  // "PATH: description" when there is none; the path made printable
};

// A folder to walk (tree, large, dupes): it must exist, be a folder and be readable. A
// symbolic link to a folder yields the folder it leads to: the walks never follow a link at
// their root, and a person who names a link to a folder means the folder, as ncdu and gdu do.
CheckedRoot folderToWalk(const std::string& path);

// A path to measure (size): anything that exists, where a link leads; a folder must also be
// readable. "" or the complaint.
std::string unmeasurable(const std::string& path);

}  // namespace nimbra
