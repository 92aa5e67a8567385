#include "host/embedding/main_window.h"
#include "host/launchctl/launchctl_stand_in.h"

int main(int argc, char** argv) {
  // Started through the build's `launchctl` link, the program is the launch service stand-in.
  if (argc > 0 && nimbra::isLaunchctlName(argv[0])) return nimbra::launchctlMain(argc, argv);
  return nimbra::applicationMain(argc, argv);
}
