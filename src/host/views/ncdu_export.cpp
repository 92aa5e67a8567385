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
  explicit DescriptorBuffer(int fd) : fd_(fd) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
  }
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
    if (error_ == 0 &&
        !writeAll(fd_, std::string_view(pbase(), static_cast<size_t>(pptr() - pbase())))) {
      error_ = errno;
    }
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return error_ == 0;
  }

  int fd_;
  int error_ = 0;
  std::array<char, 1 << 16> buffer_{};
};

// The permissions of a file that `target` names now, or those of a new file.
mode_t modeFor(const std::string& target) {
  struct stat info {};
  if (::lstat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return info.st_mode & 07777;
  // umask can only be read by setting it; nothing else creates files while the export runs.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return kNewFileMode & ~mask;
}

// `target` opened for writing where it is, when it is a device, a FIFO or a socket: written as a
// shell's `>` writes it. Replaced by a file instead, /dev/null would break every program that
// writes there, and a FIFO's reader would wait for nothing. For anything else (nothing there, a
// file, a link, a folder) neither a descriptor nor an error: it is replaced as a file is.
struct InPlace {
  int fd = -1;
  int error = 0;
};
InPlace openInPlace(const std::string& target) {
  struct stat info {};
  if (namesNoFile(target) || ::lstat(target.c_str(), &info) != 0 || S_ISREG(info.st_mode) ||
      S_ISLNK(info.st_mode) || S_ISDIR(info.st_mode))
    return {};
  // Without O_CREAT nothing new is made here, and O_NOFOLLOW refuses a link put in the entry's
  // place meanwhile. A FIFO blocks here until it has a reader, as it does for a shell.
  const int fd = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {-1, errno};
  struct stat opened {};
  if (::fstat(fd, &opened) == 0 && !S_ISREG(opened.st_mode) && !S_ISDIR(opened.st_mode))
    return {fd, 0};
  // A file took the entry's place meanwhile: it is replaced whole, as files are.
  ::close(fd);
  return {};
}

std::string entryObject(const std::string& name, const struct stat* info, bool isFolder,
                        bool readError = false) {
  std::string out = "{\"name\":";
  appendJsonString(out, name, JsonControls::allEscaped);
  if (!info) return out + ",\"read_error\":true}";
  if (readError) out += ",\"read_error\":true";
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

// The buffered stream the export writes through.
struct NcduExport::Output {
  explicit Output(int fd) : buffer(fd) {}
  DescriptorBuffer buffer;
  std::ostream stream{&buffer};
};

NcduExport::NcduExport(std::string target, std::function<bool()> stop)
    : target_(std::move(target)), stop_(std::move(stop)) {}

NcduExport::~NcduExport() {
  if (fd_ >= 0) ::close(fd_);
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

int NcduExport::openTarget() {
  const InPlace inPlace = openInPlace(target_);
  if (inPlace.fd >= 0) {
    inPlace_ = true;
    return fd_ = inPlace.fd;
  }
  if (inPlace.error != 0) {
    error_ = inPlace.error;
    return -1;
  }
  const PathParts parts = splitLastComponent(target_);
  if (parts.name.empty() || parts.name == "." || parts.name == "..") {
    error_ = EISDIR;
    return -1;
  }
  std::string temporary = parts.parent + "/." + parts.name + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    error_ = errno;
    return -1;
  }
  temporary_ = std::move(temporary);
  temporaryName_ = splitLastComponent(temporary_).name;
  return fd_ = fd;
}

void NcduExport::begin(const std::string& root) {
  const int fd = target_ == kStandardOutput ? STDOUT_FILENO : openTarget();
  if (fd < 0) return;
  output_ = std::make_unique<Output>(fd);
  output_->stream << "[1,2,{\"progname\":\"nimbra\",\"progver\":\"1\",\"timestamp\":"
                  << std::time(nullptr) << "},\n";
  struct stat rootInfo {};
  const std::string location = withoutTrailingSlashes(root);
  if (namesNoFile(root) || ::lstat(location.c_str(), &rootInfo) != 0) {
    output_->stream << "[" << entryObject(root, nullptr, true);
    return;
  }
  // "[" is written with the root's object, once the walk has told whether it could be read.
  pending_ = PendingFolder{root, location, rootInfo};
  --openFolders_;
}

void NcduExport::unreadable(const UnreadableFolder& folder) {
  if (pending_ && pending_->path == folder.path) pending_->unreadable = true;
}

void NcduExport::writePending() {
  if (!pending_) return;
  output_->stream << (openFolders_ == 0 ? "[" : ",\n[")
                  << entryObject(pending_->name, &pending_->info, true, pending_->unreadable);
  ++openFolders_;
  pending_.reset();
}

bool NcduExport::take(const WalkEntry& entry) {
  if (!output_ || !totals_.complete) return false;
  // A reader that went away stops the export as a stop does.
  if (output_->buffer.error() != 0 || stop_()) {
    totals_.complete = false;
    return false;
  }
  writePending();
  std::ostream& out = output_->stream;
  // Pre-order: an entry at depth d closes every folder deeper than its parent.
  for (; openFolders_ > entry.depth(); --openFolders_) out << "]";
  ++totals_.entries;
  const struct stat* info = entry.stat();
  const std::string name(entry.name());
  if (info && S_ISDIR(info->st_mode)) {
    pending_ = PendingFolder{name, entry.path(), *info};
  } else {
    out << ",\n" << entryObject(name, info, false);
    if (info && S_ISREG(info->st_mode)) totals_.logicalBytes += info->st_size;
  }
  return true;  // every level of every folder
}

void NcduExport::end(bool complete) {
  if (!output_) return;
  if (!complete) totals_.complete = false;
  writePending();
  std::ostream& out = output_->stream;
  for (; openFolders_ > 0; --openFolders_) out << "]";
  out << "]\n";
  out.flush();
  error_ = output_->buffer.error();
  if (fd_ < 0) return;
  // A device or FIFO keeps its own permissions, and has nothing to flush to a disk.
  if (error_ == 0 && !inPlace_ && ::fchmod(fd_, modeFor(target_)) != 0) error_ = errno;
  if (error_ == 0 && !inPlace_ && ::fsync(fd_) != 0) error_ = errno;
  if (::close(fd_) != 0 && error_ == 0) error_ = errno;
  fd_ = -1;
}

bool NcduExport::owns(const WalkEntry& entry) {
  if (temporary_.empty() || entry.name() != temporaryName_) return false;
  const struct stat* info = entry.stat();
  struct stat own {};
  return info && ::lstat(temporary_.c_str(), &own) == 0 && own.st_dev == info->st_dev &&
         own.st_ino == info->st_ino;
}

NcduWrite NcduExport::finish(bool keep) {
  if (!temporary_.empty()) {
    if (keep && error_ == 0 && totals_.complete &&
        ::rename(temporary_.c_str(), target_.c_str()) != 0)
      error_ = errno;
    if (!keep || error_ != 0 || !totals_.complete) ::unlink(temporary_.c_str());
    temporary_.clear();
  }
  return {totals_, error_, inPlace_};
}

}  // namespace nimbra
