# Writes a C++ source that holds every file of the browser interface with its request path
# and content type (see src/host/ui/web_assets.h). The build runs it whenever a file below the
# folder changes:
#   cmake -DWEB_DIR=web -DOUTPUT=web_assets_data.cpp -DHEADER=host/ui/web_assets.h -P embed_web.cmake
# Left out: names starting with "." (editor and system leftovers) and the top package.json,
# which only tells Node that the page's .js files are ES modules when the tests import them.

foreach(variable WEB_DIR OUTPUT HEADER)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "embed_web.cmake needs -D${variable}=...")
  endif()
endforeach()

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${WEB_DIR}" "${WEB_DIR}/*")
list(SORT files)

set(arrays "")
set(entries "")
set(index 0)
foreach(file IN LISTS files)
  if(file MATCHES "(^|/)\\." OR file STREQUAL "package.json")
    continue()
  endif()
  # Requests are matched byte for byte, never percent-decoded: a name that a browser would
  # have to encode could never be requested.
  if(NOT file MATCHES "^[A-Za-z0-9._/-]+$")
    message(FATAL_ERROR "web/${file}: use only letters, digits, '.', '_' and '-' in the page's file names")
  endif()
  string(REGEX MATCH "[^.]*$" extension "${file}")
  string(TOLOWER "${extension}" extension)
  if(extension STREQUAL "html")
    set(type "text/html; charset=utf-8")
  elseif(extension STREQUAL "css")
    set(type "text/css; charset=utf-8")
  elseif(extension STREQUAL "js" OR extension STREQUAL "mjs")
    set(type "text/javascript; charset=utf-8")
  elseif(extension STREQUAL "json")
    set(type "application/json")
  elseif(extension STREQUAL "txt")
    set(type "text/plain; charset=utf-8")
  elseif(extension STREQUAL "svg")
    set(type "image/svg+xml")
  elseif(extension STREQUAL "png")
    set(type "image/png")
  elseif(extension STREQUAL "woff2")
    set(type "font/woff2")
  else()
    # Served with nosniff, a wrong type breaks the file in the browser: name it here first.
    message(FATAL_ERROR "web/${file}: no content type for .${extension} in embed_web.cmake")
  endif()

  file(READ "${WEB_DIR}/${file}" hex HEX)
  file(SIZE "${WEB_DIR}/${file}" size)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # The trailing 0 keeps an empty file's array legal; the size excludes it.
  string(APPEND arrays "// ${file}\nconst uint8_t kFile${index}[] = {${bytes}0};\n")
  string(APPEND entries "    {\"/${file}\", \"${type}\", {kFile${index}, ${size}}},\n")
  if(file STREQUAL "index.html")
    string(APPEND entries "    {\"/\", \"${type}\", {kFile${index}, ${size}}},\n")
  endif()
  math(EXPR index "${index} + 1")
endforeach()

file(WRITE "${OUTPUT}" "// Generated from web/ by scripts/embed_web.cmake; edits are overwritten.

#include \"${HEADER}\"

namespace nimbra {
namespace {

${arrays}
const WebAsset kAssets[] = {
${entries}};

}  // namespace

std::span<const WebAsset> webAssets() { return kAssets; }

}  // namespace nimbra
")
