#pragma once

// The page the desktop's opener is handed in place of the address. The address carries the
// secret, and a program's arguments can be read by every local user (/proc/PID/cmdline) for as
// long as the opener and the browser it starts run; whoever read it could call deleteItems as
// this user. The page is a file only this user can read, holding the address and forwarding
// the browser to it; its path tells nothing.

#include <optional>
#include <string>

#include "base/descriptor.h"

namespace nimbra {

class OpenerPage {
 public:
  // Writes the page in a folder of its own made for it below `parent` (a new name, mode 0700:
  // never an existing folder or a link), as a new file of mode 0600. nullopt, with errno set,
  // when it cannot be written; nothing is left behind then.
  static std::optional<OpenerPage> create(const std::string& parent, const std::string& address);

  OpenerPage(OpenerPage&& other) noexcept;
  OpenerPage& operator=(OpenerPage&& other) noexcept;
  OpenerPage(const OpenerPage&) = delete;
  ~OpenerPage() { remove(); }

  // The page's file:// URL, for the opener.
  const std::string& url() const { return url_; }
  // Removes the page and its folder; later calls do nothing. Not thread-safe.
  void remove();

 private:
  OpenerPage(std::string folder, Descriptor folderFd, std::string url);

  std::string folder_;  // "" once removed
  Descriptor folderFd_;
  std::string url_;
};

// The page's HTML: forwards at once to `address`, with a link for a browser that does not.
std::string openerPageHtml(const std::string& address);

}  // namespace nimbra
