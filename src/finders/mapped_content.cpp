#include "finders/mapped_content.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstddef>
#include <mutex>

namespace nimbra {
namespace {

// The most that is mapped at once: keeps the resident pages of a huge file bounded while the
// per-window mmap/munmap cost stays negligible (64 windows per GiB).
constexpr int64_t kWindowBytes = 16 << 20;
// Bytes handed to OpenSSL per call.
constexpr size_t kPieceBytes = 1 << 20;

// The window this thread is hashing, and where to go when it faults.
struct FaultGuard {
  const char* begin;
  const char* end;
  sigjmp_buf escape;
};

thread_local FaultGuard* tActiveGuard = nullptr;
struct sigaction gPreviousAction {};

void onSigbus(int signal, siginfo_t* info, void* context) {
  FaultGuard* guard = tActiveGuard;
  const char* address = static_cast<const char*>(info->si_addr);
  if (guard && address >= guard->begin && address < guard->end) siglongjmp(guard->escape, 1);
  // Not a fault of ours: behave as if this handler had never been installed.
  if (gPreviousAction.sa_flags & SA_SIGINFO) {
    gPreviousAction.sa_sigaction(signal, info, context);
  } else if (gPreviousAction.sa_handler != SIG_IGN && gPreviousAction.sa_handler != SIG_DFL) {
    gPreviousAction.sa_handler(signal);
  } else {
    // Returning re-runs the faulting access, which now meets the default action.
    ::signal(SIGBUS, SIG_DFL);
  }
}

void installSigbusHandlerOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = onSigbus;
    // SA_NODEFER: the handler leaves by siglongjmp, which does not restore the signal mask.
    action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &gPreviousAction);
  });
}

// Hashes one mapped window; false when it faulted. Kept free of objects with destructors,
// since a fault leaves it by siglongjmp.
bool feedWindow(const char* begin, size_t length, Sha256& hasher) {
  FaultGuard guard;
  guard.begin = begin;
  guard.end = begin + length;
  tActiveGuard = &guard;
  if (sigsetjmp(guard.escape, 0) != 0) {
    tActiveGuard = nullptr;
    return false;
  }
  for (size_t done = 0; done < length; done += kPieceBytes) {
    hasher.update(begin + done, std::min(kPieceBytes, length - done));
  }
  tActiveGuard = nullptr;
  return true;
}

}  // namespace

MappedFeed feedMappedRange(int fd, int64_t offset, int64_t length, Sha256& hasher) {
  installSigbusHandlerOnce();
  static const int64_t kPageBytes = ::sysconf(_SC_PAGESIZE);
  bool fedAny = false;
  while (length > 0) {
    // Mappings start on a page boundary; the bytes before `offset` are mapped but not fed.
    int64_t start = offset - offset % kPageBytes;
    int64_t lead = offset - start;
    int64_t window = std::min(length, kWindowBytes - lead);
    auto mappedLength = static_cast<size_t>(lead + window);
    void* mapped = ::mmap(nullptr, mappedLength, PROT_READ, MAP_SHARED, fd, start);
    if (mapped == MAP_FAILED) return fedAny ? MappedFeed::faulted : MappedFeed::unavailable;
    // Cold files: let the kernel read ahead aggressively and drop pages behind us.
    ::madvise(mapped, mappedLength, MADV_SEQUENTIAL);
    const char* begin = static_cast<const char*>(mapped) + lead;
    bool fed = feedWindow(begin, static_cast<size_t>(window), hasher);
    ::munmap(mapped, mappedLength);
    if (!fed) return MappedFeed::faulted;
    fedAny = true;
    offset += window;
    length -= window;
  }
  return MappedFeed::done;
}

}  // namespace nimbra
