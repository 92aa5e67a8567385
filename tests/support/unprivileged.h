#pragma once

#include <functional>
#include <string>

namespace nimbra::test {

// CI runs as root, and root ignores permission bits. A permission test therefore runs its
// body in a forked child that dropped to `nobody` (setgid, then setuid). The body answers
// an empty string for success or a description of what went wrong; the parent answers that
// text ("" when the child succeeded), or a note on how the child died.
// Use EXPECT_EQ(runUnprivileged(...), "").
std::string runUnprivileged(const std::function<std::string()>& body);

// The uid/gid of `nobody`, for chown-ing test trees.
unsigned nobodyUid();
unsigned nobodyGid();

}  // namespace nimbra::test

// Note: fork() copies only the calling thread. Call runUnprivileged while no other thread of the
// test process runs (no ChannelHarness or NimbraNative alive): the child builds its own.
