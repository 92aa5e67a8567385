#include "platform/machine/machine_sources.h"

#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace nimbra {

std::optional<std::string> LocalMachineSources::readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(text).str();
}

std::optional<VolumeStat> LocalMachineSources::volumeStat(const std::string& mountPoint) {
  struct stat st;
  struct statvfs vfs;
  if (::stat(mountPoint.c_str(), &st) != 0 || ::statvfs(mountPoint.c_str(), &vfs) != 0) {
    return std::nullopt;
  }
  return VolumeStat{S_ISDIR(st.st_mode), static_cast<int64_t>(vfs.f_blocks * vfs.f_frsize),
                    static_cast<int64_t>(vfs.f_bavail * vfs.f_frsize)};
}

std::string LocalMachineSources::hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string LocalMachineSources::kernelRelease() {
  struct utsname names;
  if (::uname(&names) != 0) return {};
  return names.release;
}

}  // namespace nimbra
