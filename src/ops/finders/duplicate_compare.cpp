#include "ops/finders/duplicate_compare.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "ops/finders/content_file.h"

namespace nimbra {
namespace {

// The most windows a split holds at once to compare the others against (4 MiB). A member
// that matches none of them when they are all taken is compared in another pass over the
// same window, so the classes stay exact however many there are.
constexpr size_t kMaxHeldWindows = 16;
// The most members held open for a whole comparison; the others of a very large group are
// opened for each window, which keeps the descriptors bounded.
constexpr size_t kMaxOpenMembers = 256;

}  // namespace

// One physical file of the group.
struct ContentComparer::Member {
  FileVersion version;              // as the prefix stage read it
  std::vector<std::string> paths;   // hard links of it count as paths of their own
  std::optional<ContentFile> file;  // open for the whole comparison, or opened per window
};

// Members whose content is equal up to `offset`, with the SHA-256 of that content.
struct ContentComparer::Class {
  std::vector<size_t> members;
  size_t paths = 0;
  int64_t offset = 0;
  // Shared with the background hasher while a window of the class is being fed to it.
  std::shared_ptr<Sha256> state;
};

std::vector<CandidateGroup> ContentComparer::split(const CandidateGroup& group,
                                                   const std::function<bool()>& cancelled) {
  if (group.size <= kPrefixDigestBytes) return {group};

  std::vector<Member> members;
  std::map<FileVersion, size_t> memberOf;
  for (const std::string& path : group.files) {
    const FileVersion* version = prefixes_.versionOf(path);
    if (!version) continue;
    auto [it, added] = memberOf.try_emplace(*version, members.size());
    if (added) members.push_back(Member{*version, {}, std::nullopt});
    members[it->second].paths.push_back(path);
  }
  if (members.empty()) return {};
  // Equal prefix digests: the states after the prefix are the same for all members.
  std::optional<Sha256> start = prefixes_.stateAfterPrefix(members.front().version);
  if (!start) return {};

  Class all{{}, 0, kPrefixDigestBytes, std::make_shared<Sha256>(std::move(*start))};
  for (size_t i = 0; i < members.size(); ++i) {
    Member& member = members[i];
    if (i < kMaxOpenMembers) {
      member.file = ContentFile::open(member.paths.front());
      if (!member.file || member.file->version() != member.version) {
        member.file.reset();
        continue;
      }
    }
    all.members.push_back(i);
    all.paths += member.paths.size();
  }

  std::vector<CandidateGroup> same;
  std::vector<Class> pending;
  pending.push_back(std::move(all));
  while (!pending.empty()) {
    Class current = std::move(pending.back());
    pending.pop_back();
    if (current.paths < 2) continue;
    if (current.offset == group.size) {
      CandidateGroup found{group.size, {}, {}};
      for (size_t m : current.members) {
        if (!unchanged(members[m])) continue;
        found.files.insert(found.files.end(), members[m].paths.begin(), members[m].paths.end());
      }
      if (found.files.size() >= 2) {
        hasher_.wait();
        found.digest = current.state->digest();
        ++counts_.digests;
        same.push_back(std::move(found));
      }
      continue;
    }
    if (cancelled()) break;
    int64_t length = std::min(kCompareWindowBytes, group.size - current.offset);
    for (Class& next : splitWindow(members, current, length)) pending.push_back(std::move(next));
  }
  hasher_.wait();  // the buffers may be refilled, and the counts read, once the split returns
  return same;
}

std::vector<ContentComparer::Class> ContentComparer::splitWindow(std::vector<Member>& members,
                                                                 Class& from, int64_t length) {
  struct Held {
    std::vector<size_t> members;
    size_t paths = 0;
  };
  auto bytes = static_cast<size_t>(length);
  std::vector<Class> next;
  std::vector<size_t> unplaced = std::move(from.members);
  // The other bank is still being hashed from, up to the end of the reads below.
  bank_ ^= 1;
  for (bool firstPass = true; !unplaced.empty(); firstPass = false) {
    // A second pass over the window reads into buffers the first pass's classes are fed from.
    if (!firstPass) hasher_.wait();
    std::vector<Held> held;  // held[i]'s window is in buffer(i)
    std::vector<size_t> later;
    for (size_t m : unplaced) {
      char* window = buffer(held.size());
      if (!readWindow(members[m], from.offset, length, window)) continue;
      size_t match = 0;
      while (match < held.size() && std::memcmp(buffer(match), window, bytes) != 0) ++match;
      if (match == held.size() && held.size() == kMaxHeldWindows) {
        later.push_back(m);
        continue;
      }
      if (match == held.size()) held.emplace_back();  // `window` is now held
      held[match].members.push_back(m);
      held[match].paths += members[m].paths.size();
    }
    // `from`'s state is whole once its last window has been fed; each class going on starts
    // from a copy of it and is fed its window from the buffer of its first member, in the
    // background while the next window is read.
    hasher_.wait();
    std::vector<BackgroundHasher::Feed> feeds;
    for (size_t i = 0; i < held.size(); ++i) {
      if (held[i].paths < 2) continue;
      Class& going =
          next.emplace_back(Class{std::move(held[i].members), held[i].paths, from.offset + length,
                                  std::make_shared<Sha256>(from.state->clone())});
      feeds.push_back({going.state, buffer(i), bytes});
      counts_.bytesHashed += length;
    }
    hasher_.start(std::move(feeds));
    // Members left alone here are done with; their descriptors close now.
    for (Held& h : held) {
      if (h.paths < 2) members[h.members.front()].file.reset();
    }
    unplaced = std::move(later);
  }
  return next;
}

bool ContentComparer::readWindow(Member& member, int64_t offset, int64_t length, char* into) {
  std::optional<ContentFile> opened;
  const ContentFile* file = member.file ? &*member.file : nullptr;
  if (!file) {
    opened = ContentFile::open(member.paths.front());
    if (!opened || opened->version() != member.version) return false;
    file = &*opened;
  }
  std::optional<int64_t> got = file->read(into, offset, length);
  counts_.bytesRead += got.value_or(0);
  if (got == length) return true;
  member.file.reset();
  return false;
}

bool ContentComparer::unchanged(Member& member) {
  std::optional<ContentFile> opened;
  if (!member.file) opened = ContentFile::open(member.paths.front());
  const std::optional<ContentFile>& file = member.file ? member.file : opened;
  bool same = file && file->versionNow() == member.version;
  member.file.reset();
  return same;
}

char* ContentComparer::buffer(size_t index) {
  std::vector<std::unique_ptr<char[]>>& bank = buffers_[bank_];
  while (bank.size() <= index) bank.emplace_back(new char[kCompareWindowBytes]);
  return bank[index].get();
}

}  // namespace nimbra
