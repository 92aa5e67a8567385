#include "host/views/ncdu_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <streambuf>
#include <vector>

#include "base/fd_io.h"
#include "channel/standard_codec.h"
#include "platform/fs/dir_walker.h"
#include "base/path_parts.h"
#include "host/json/json_text.h"

namespace nimbra {
namespace {

constexpr int64_t kBlockBytes = 512;
constexpr mode_t kNewFileMode = 0666;  // before the umask, as open(2) creates files

// Buffered output to a descriptor that remembers why the first write failed; later output is
// dropped.
class DescriptorBuffer final : public std::streambuf {
 public:
  explicit DescriptorBuffer(int fd) : fd_(fd) { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override {
    if (!flush()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return flush() ? 0 : -1; }

 private:
  bool flush() {
    if (error_ == 0 && !writeAll(fd_, std::string_view(pbase(), static_cast<size_t>(pptr() - pbase())))) {
      error_ = errno;
    }
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return error_ == 0;
  }

  int fd_;
  int error_ = 0;
  std::array<char, 1 << 16> buffer_{};
};

NcduWrite exportTo(int fd, const std::string& root, const std::function<bool()>& cancelled) {
  DescriptorBuffer buffer(fd);
  std::ostream out(&buffer);
  NcduWrite written;
  // A reader that went away stops the walk as cancelling does.
  written.totals = exportNcdu(root, out, [&] { return buffer.error() != 0 || cancelled(); });
  out.flush();
  written.error = buffer.error();
  return written;
}

// The permissions of a file that `target` names now, or those of a new file.
mode_t modeFor(const std::string& target) {
  struct stat info {};
  if (::lstat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return info.st_mode & 07777;
  // umask can only be read by setting it; nothing else creates files while the export runs.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return kNewFileMode & ~mask;
}

std::string entryObject(const std::string& name, const struct stat* info, bool isFolder) {
  std::string out = "{\"name\":";
  appendJsonString(out, name, JsonControls::allEscaped);
  if (!info) return out + ",\"read_error\":true}";
  const bool regular = S_ISREG(info->st_mode);
  if (regular || isFolder) {
    out += ",\"asize\":" + std::to_string(info->st_size);
    out += ",\"dsize\":" + std::to_string(static_cast<int64_t>(info->st_blocks) * kBlockBytes);
  } else {
    out += ",\"notreg\":true";
  }
  if (isFolder) out += ",\"dev\":" + std::to_string(static_cast<uint64_t>(info->st_dev));
  out += ",\"ino\":" + std::to_string(static_cast<uint64_t>(info->st_ino));
  if (regular && info->st_nlink > 1) out += ",\"hlnkc\":true";
  return out + "}";
}

}  // namespace

NcduExportTotals exportNcdu(const std::string& root, std::ostream& out, const std::function<bool()>& cancelled) {
  NcduExportTotals totals;
  out << "[1,2,{\"progname\":\"nimbra\",\"progver\":\"1\",\"timestamp\":" << std::time(nullptr) << "},\n";
  struct stat rootInfo {};
  const bool rootRead = !namesNoFile(root) && ::lstat(withoutTrailingSlashes(root).c_str(), &rootInfo) == 0;
  out << "[" << entryObject(root, rootRead ? &rootInfo : nullptr, true);

  DirWalker walker(root);
  int openFolders = 1;  // arrays written and not yet closed: the root's and its open descendants'
  while (const WalkEntry* entry = walker.next()) {
    if (cancelled()) {
      totals.complete = false;
      break;
    }
    // Pre-order: an entry at depth d closes every folder deeper than its parent.
    for (; openFolders > entry->depth(); --openFolders) out << "]";
    ++totals.entries;
    const struct stat* info = entry->stat();
    const std::string name(entry->name());
    if (info && S_ISDIR(info->st_mode)) {
      out << ",\n[" << entryObject(name, info, true);
      ++openFolders;
    } else {
      out << ",\n" << entryObject(name, info, false);
      if (info && S_ISREG(info->st_mode)) totals.logicalBytes += info->st_size;
    }
  }
  for (; openFolders > 0; --openFolders) out << "]";
  out << "]\n";
  return totals;
}

NcduWrite writeNcduExport(const std::string& root, const std::string& target, const std::function<bool()>& cancelled) {
  if (target == kStandardOutput) return exportTo(STDOUT_FILENO, root, cancelled);
  const PathParts parts = splitLastComponent(target);
  if (parts.name.empty() || parts.name == "." || parts.name == "..") return {{}, EISDIR};
  std::string temporary = parts.parent + "/." + parts.name + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return {{}, errno};
  NcduWrite written = exportTo(fd, root, cancelled);
  if (written.error == 0 && ::fchmod(fd, modeFor(target)) != 0) written.error = errno;
  if (written.error == 0 && ::fsync(fd) != 0) written.error = errno;
  if (::close(fd) != 0 && written.error == 0) written.error = errno;
  if (written.error == 0 && written.totals.complete && ::rename(temporary.c_str(), target.c_str()) != 0) {
    written.error = errno;
  }
  if (written.error != 0 || !written.totals.complete) ::unlink(temporary.c_str());
  return written;
}

}  // namespace nimbra
