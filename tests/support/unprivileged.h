#pragma once

#include <unistd.h>

#include <functional>
#include <string>

namespace nimbra::test {

// CI runs as root, and root ignores permission bits. A permission test therefore runs its
// body in a forked child that dropped to `nobody` (setgid, then setuid). The body answers
// an empty string for success or a description of what went wrong; the parent answers that
// text ("" when the child succeeded), or a note on how the child died.
// Use EXPECT_EQ(runUnprivileged(...), "").
std::string runUnprivileged(const std::function<std::string()>& body);

// For a test that can only run as root (CI does): skips it, saying why, for anyone else.
#define NIMBRA_SKIP_UNLESS_ROOT(why) \
  if (::geteuid() != 0) GTEST_SKIP() << "needs root: " << (why)

// Runs `body` in a forked child (still root) with a private mount namespace: mounts it makes
// (bindMount) are seen by no one else and vanish with the child, so a test can build mount
// points inside its own temporary folder without touching the machine's mounts. Answers like
// runUnprivileged.
std::string runInPrivateMountNamespace(const std::function<std::string()>& body);
// Inside such a child: mounts `from` onto `onto`, read-only when asked; "" or what failed.
std::string bindMount(const std::string& from, const std::string& onto, bool readOnly = false);

// Inside such a child: gives it (and every program it starts) a machine whose /Applications and
// /Library are the test's folders. This machine has neither to mount on, so the child's root
// becomes a tmpfs on `scratch` (an empty folder of the test's) holding bind mounts of every
// top-level folder and link of the machine, plus those two, and the child moves into it
// (chroot). Paths stay as they were. "" or what failed.
std::string useMachineFolders(
    const std::string& scratch, const std::string& applications, const std::string& library);

// The uid/gid of `nobody`, for chown-ing test trees.
unsigned nobodyUid();
unsigned nobodyGid();

}  // namespace nimbra::test

// Note: fork() copies only the calling thread. Call runUnprivileged while no other thread of the
// test process runs (no ChannelHarness or NimbraNative alive): the child builds its own.
