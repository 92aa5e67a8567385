#pragma once

// What kind of thing a file is, by its extension: the one table the file statistics and the
// page's views of them share.

#include <array>
#include <string_view>

namespace nimbra {

// The kinds, as the answers name them; "other" is every extension the table does not know.
inline constexpr std::array<std::string_view, 8> kFileKinds = {
    "images", "video", "audio", "documents", "archives", "code", "applications", "other"};

// The kind of a lower-cased extension without its dot ("jpg", "" for none). A package's
// extension has a kind too ("app", "photoslibrary", "pages"): what lies inside it is of its kind.
std::string_view kindOfExtension(std::string_view extension);

}  // namespace nimbra
