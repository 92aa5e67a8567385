#include "ops/junk/junk_catalogue.h"

#include <algorithm>
#include <cctype>

namespace nimbra {

std::string userCacheDirectory(const std::string& tmp) {
  // The temporary folder's last component is dropped (trailing slashes do not count as one)
  // and "C" put in its place: /var/folders/ab/xyz/T/ gives /var/folders/ab/xyz/C.
  std::string parent = tmp;
  while (!parent.empty() && parent.back() == '/') parent.pop_back();
  size_t slash = parent.rfind('/');
  parent.erase(slash == std::string::npos ? 0 : slash);
  return parent + "/C";
}

std::vector<JunkCategory> junkCatalogue(const Folders& folders) {
  const std::string& home = folders.home;
  const std::string& tmp = folders.temporary;
  const std::string& library = folders.library;
  auto under = [&](std::initializer_list<const char*> literals) {
    std::vector<std::string> roots;
    for (const char* literal : literals) roots.push_back(home + literal);
    return roots;
  };
  return {
      {"userCache", under({"/Library/Caches"}), true},
      {"userLogs", {home + "/Library/Logs", library + "/Logs", "/private/var/log"}, true},
      {"systemCache", {userCacheDirectory(tmp), library + "/Caches"}, true},
      {"temp", {tmp, "/private/tmp"}, true},
      {"trash", {folders.trash + "/files"}, true},
      {"developer",
       under({"/Library/Developer/Xcode/DerivedData", "/Library/Developer/Xcode/iOS DeviceSupport",
              "/Library/Developer/Xcode/watchOS DeviceSupport",
              "/Library/Developer/CoreSimulator/Caches", "/.npm/_cacache", "/.gradle/caches",
              "/.cache", "/.pub-cache/hosted", "/Library/Caches/CocoaPods", "/.cocoapods/repos",
              "/Library/Caches/Homebrew", "/.cargo/registry/cache"}),
       false},
      {"browsers",
       under({"/Library/Caches/Google/Chrome", "/Library/Caches/Firefox",
              "/Library/Caches/com.apple.Safari", "/Library/Caches/BraveSoftware",
              "/Library/Caches/Microsoft Edge", "/Library/Caches/com.operasoftware.Opera",
              "/Library/Application Support/Google/Chrome/Default/Service Worker/CacheStorage",
              "/Library/Application Support/Google/Chrome/Default/Code Cache"}),
       false},
      {"crashReports",
       {home + "/Library/Logs/DiagnosticReports", library + "/Logs/DiagnosticReports"},
       true},
      {"savedState", under({"/Library/Saved Application State"}), true},
      {"mail",
       under({"/Library/Containers/com.apple.mail/Data/Library/Mail Downloads",
              "/Library/Mail Downloads"}),
       true},
      {"iosBackups", under({"/Library/Application Support/MobileSync/Backup"}), true},
      {"localization", {}, false},
  };
}

std::vector<std::string> allRoots(const std::vector<JunkCategory>& catalogue) {
  std::vector<std::string> roots;
  for (const JunkCategory& category : catalogue) {
    roots.insert(roots.end(), category.roots.begin(), category.roots.end());
  }
  return roots;
}

std::vector<std::string> applicationFolders(const Folders& folders) {
  return {folders.applications, folders.home + "/Applications"};
}

const std::set<std::string>& keptLanguages() {
  static const std::set<std::string> kLanguages = {"en", "en-gb", "en-us", "fa", "base", "english"};
  return kLanguages;
}

std::string languageOfLocalization(const std::string& folderName) {
  std::string language = folderName.substr(
      0, folderName.size() - std::min(kLocalizationSuffix.size(), folderName.size()));
  std::transform(language.begin(), language.end(), language.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return language;
}

}  // namespace nimbra
