#pragma once

#include <string_view>

namespace nimbra {

// A package is a directory the desktop shows as one item (an application, a document bundle).
// Its name ends, case-insensitively, in one of the package extensions (.app, .bundle,
// .framework, ...). Whether it is a directory is the caller's question.
bool isPackageName(std::string_view name);

}  // namespace nimbra
