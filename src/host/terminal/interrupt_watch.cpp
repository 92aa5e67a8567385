#include "host/terminal/interrupt_watch.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

namespace nimbra {

void blockInterrupts() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

InterruptWatch::InterruptWatch(std::function<void()> onFirst) {
  // Detached: the process ends by _exit when its window closes, with this thread still waiting.
  std::thread([this, onFirst = std::move(onFirst)] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    for (int signal = 0;;) {
      if (sigwait(&set, &signal) != 0) continue;
      if (interrupted_.exchange(true)) ::_exit(kExitInterrupted);
      onFirst();
    }
  }).detach();
}

}  // namespace nimbra
