// The shell's window in process: loading keeps its frame, and no frame goes below the minimum
// size. What loading installs is seen from outside, in the serve and call tests.

#include <gtest/gtest.h>

#include "app/shell.h"

namespace nimbra {
namespace {

TEST(Shell, LoadingKeepsTheFrameAndEveryLaterFrameHoldsTheMinimumSize) {
  EngineMessenger engine;
  AppDelegate delegate;
  MainFlutterWindow window(engine, delegate);
  const Rect initial = window.frame();
  window.awakeFromNib();
  ASSERT_NE(window.contentViewController(), nullptr);
  EXPECT_EQ(window.frame(), initial);
  const std::pair<Rect, Rect> asked[] = {{{10, 20, 400, 300}, {10, 20, 980, 640}},
                                         {{0, 0, 1000, 100}, {0, 0, 1000, 640}},
                                         {{0, 0, 1600, 1000}, {0, 0, 1600, 1000}}};
  for (const auto& [frame, given] : asked) {
    window.setFrame(frame);
    EXPECT_EQ(window.frame(), given);
  }
}

}  // namespace
}  // namespace nimbra
