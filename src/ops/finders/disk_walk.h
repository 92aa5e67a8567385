#pragma once

// The walk of a folder's whole tree that feeds the disk usage tree ("analyzeDisk"), the
// snapshot it records in the history and the host's ncdu export: one walk, each entry handed to
// every sink in turn, so a tree, its snapshot and its export cost one pass over the disk. Its
// rules, for each entry below the root:
//  1. hidden entries and package contents are visited like any others;
//  2. a folder is entered unless every sink declines its contents;
//  3. kernel pseudo file systems (procfs, sysfs ...) are never entered;
//  4. symbolic links are never followed: a link is an entry of its own;
//  5. other mounts are entered like any folder;
//  6. an entry that a sink's own output put in the tree (the export's unfinished file) is that
//     sink's alone: the others never see it, as they would not without that sink.
// Cancellation is polled once per entry, before any sink sees it. Blocking; one walk per thread.

#include <functional>
#include <span>
#include <string>

#include "platform/fs/dir_walker.h"

namespace nimbra {

class DiskWalkSink {
 public:
  virtual ~DiskWalkSink() = default;
  // Before the first entry, whether or not the root opens as a folder.
  virtual void begin(const std::string& root) { (void)root; }
  // Each entry below the root, in pre-order (a folder before its contents). For a folder: whether
  // this sink wants its contents.
  virtual bool take(const WalkEntry& entry) = 0;
  // After the last entry; `complete` is false when the walk was cancelled.
  virtual void end(bool complete) { (void)complete; }
  // Whether the entry is this sink's own output.
  virtual bool owns(const WalkEntry& entry) { return (void)entry, false; }
  // A folder the walk could not read (the root, or one a sink wanted entered), told before the
  // entry that follows it.
  virtual void unreadable(const UnreadableFolder& folder) { (void)folder; }
};

// The folders the disk usage views never take in, whatever their root: other volumes, the swap
// files and the device folder (/System/Volumes, /Volumes, /private/var/vm, /dev), by the path
// of an entry met below the root, never the root itself.
bool isOtherVolumeOrDevices(const WalkEntry& entry);

enum class DiskWalkEnd { notAFolder, finished, cancelled };

// The folders the walk could not read are added to `unreadable` when one is given.
DiskWalkEnd walkDisk(const std::string& root, std::span<DiskWalkSink* const> sinks,
                     const std::function<bool()>& cancelled,
                     UnreadableFolders* unreadable = nullptr);

}  // namespace nimbra
