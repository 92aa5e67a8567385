#include "host/ui/opener_page.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "base/fd_io.h"
#include "platform/desktop/desktop_programs.h"

namespace nimbra {
namespace {

constexpr const char* kPageName = "open.html";

std::string escapedForHtml(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

std::string openerPageHtml(const std::string& address) {
  const std::string href = escapedForHtml(address);
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
         "<meta name=\"referrer\" content=\"no-referrer\">\n"
         "<meta http-equiv=\"refresh\" content=\"0;url=" +
         href +
         "\">\n<title>Nimbra</title></head>\n"
         "<body><p><a href=\"" +
         href + "\">Open Nimbra</a></p></body></html>\n";
}

std::optional<OpenerPage> OpenerPage::create(const std::string& parent,
                                             const std::string& address) {
  std::string folder = parent + (parent.ends_with('/') ? "" : "/") + "nimbra-ui-XXXXXX";
  std::vector<char> name(folder.begin(), folder.end());
  name.push_back('\0');
  if (!::mkdtemp(name.data())) return std::nullopt;
  folder = name.data();
  Descriptor folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folderFd.ok()) {
    const int error = errno;
    ::rmdir(folder.c_str());
    errno = error;
    return std::nullopt;
  }
  OpenerPage page(folder, std::move(folderFd), fileUrlFromPath(folder + "/" + kPageName));
  // O_EXCL: a new file, never one planted here, nor a link. fchmod: whatever the umask.
  Descriptor file(::openat(page.folderFd_.get(), kPageName,
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file.ok() || ::fchmod(file.get(), 0600) != 0 ||
      !writeAll(file.get(), openerPageHtml(address))) {
    const int error = errno;
    page.remove();
    errno = error;
    return std::nullopt;
  }
  return page;
}

OpenerPage::OpenerPage(std::string folder, Descriptor folderFd, std::string url)
    : folder_(std::move(folder)), folderFd_(std::move(folderFd)), url_(std::move(url)) {}

OpenerPage::OpenerPage(OpenerPage&& other) noexcept
    : folder_(std::exchange(other.folder_, "")),
      folderFd_(std::move(other.folderFd_)),
      url_(std::move(other.url_)) {}

OpenerPage& OpenerPage::operator=(OpenerPage&& other) noexcept {
  if (this != &other) {
    remove();
    folder_ = std::exchange(other.folder_, "");
    folderFd_ = std::move(other.folderFd_);
    url_ = std::move(other.url_);
  }
  return *this;
}

void OpenerPage::remove() {
  if (folder_.empty()) return;
  // Through the folder's descriptor: the file named here is the one in the folder made above.
  ::unlinkat(folderFd_.get(), kPageName, 0);
  folderFd_.reset();
  ::rmdir(folder_.c_str());
  folder_.clear();
}

}  // namespace nimbra
