#include "ops/finders/file_kinds.h"

#include <string>
#include <unordered_map>

namespace nimbra {

std::string_view kindOfExtension(std::string_view extension) {
  static const std::unordered_map<std::string_view, std::string_view> kKinds = [] {
    std::unordered_map<std::string_view, std::string_view> kinds;
    const auto add = [&kinds](std::string_view kind, std::initializer_list<std::string_view> list) {
      for (std::string_view extension : list) kinds.emplace(extension, kind);
    };
    add("images", {"jpg", "jpeg", "png", "gif",  "heic", "heif", "webp", "tif",          "tiff",
                   "bmp", "svg",  "ico", "icns", "psd",  "raw",  "cr2",  "cr3",          "nef",
                   "arw", "dng",  "orf", "rw2",  "avif", "jxl",  "xcf",  "photoslibrary"});
    add("video", {"mp4", "m4v", "mov", "mkv", "avi", "wmv", "webm", "mpg", "mpeg", "flv", "3gp",
                  "mts", "m2ts", "vob", "fcpbundle", "imovielibrary"});
    add("audio", {"mp3", "m4a", "aac", "flac", "wav", "ogg", "oga", "opus", "aif", "aiff", "alac",
                  "wma", "mid", "midi", "caf", "logicx", "band"});
    add("documents", {"pdf",   "doc",     "docx", "xls",  "xlsx", "ppt", "pptx", "odt",  "ods",
                      "odp",   "rtf",     "rtfd", "txt",  "md",   "tex", "csv",  "epub", "mobi",
                      "pages", "numbers", "key",  "djvu", "xps",  "rst", "tsv",  "log",  "org"});
    add("archives",
        {"zip",  "tar", "gz",          "tgz",          "bz2",  "tbz2",  "xz",  "txz", "zst", "lz",
         "lzma", "7z",  "rar",         "cab",          "dmg",  "iso",   "img", "pkg", "deb", "rpm",
         "apk",  "xip", "sparseimage", "sparsebundle", "vmdk", "qcow2", "vdi", "whl", "gem"});
    add("code",
        {"c",           "h",          "cc",   "cpp",  "cxx",   "hpp",  "hh",  "m",     "mm",
         "swift",       "py",         "pyc",  "js",   "mjs",   "cjs",  "ts",  "tsx",   "jsx",
         "java",        "class",      "kt",   "go",   "rs",    "rb",   "php", "pl",    "lua",
         "sh",          "bash",       "zsh",  "json", "xml",   "yaml", "yml", "toml",  "html",
         "htm",         "css",        "scss", "sql",  "cs",    "dart", "r",   "ipynb", "xcodeproj",
         "xcworkspace", "playground", "o",    "a",    "pas",   "pp",   "inc", "pm",    "vim",
         "el",          "cmake",      "mk",   "hs",   "scala", "clj",  "ex",  "exs",   "erl",
         "f90",         "s",          "asm"});
    add("applications", {"app",      "framework",   "bundle",     "plugin", "appex", "xpc", "kext",
                         "prefpane", "qlgenerator", "mdimporter", "saver",  "dylib", "so",  "dll",
                         "exe",      "msi",         "jar",        "wasm",   "node",  "dsym"});
    return kinds;
  }();
  // "tar.gz" is known by its last part, "gz".
  const auto found = kKinds.find(extension);
  return found == kKinds.end() ? kFileKinds.back() : found->second;
}

}  // namespace nimbra
