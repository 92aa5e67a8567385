// The shell in process: the window's loading step, its minimum size and the plug-in registry.
// Closing the window is seen from outside, in the serve tests.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/shell.h"
#include "channel/nimbra_native.h"
#include "channel/standard_codec.h"

namespace nimbra {
namespace {

TEST(Shell, LoadingRegistersThePluginsInOrderServesTheChannelsAndKeepsTheMinimumSize) {
  EngineMessenger engine;
  AppDelegate delegate;
  MainFlutterWindow window(engine, delegate);
  const Rect initial = window.frame();
  EXPECT_EQ(window.contentViewController(), nullptr);
  window.awakeFromNib();
  ASSERT_NE(window.contentViewController(), nullptr);
  EXPECT_EQ(window.contentViewController()->registry().keys().size(), 4u);
  EXPECT_TRUE(engine.hasHandler(kEventsChannel));
  // The installed handler is the live service: "cancel" is answered on the spot.
  std::vector<uint8_t> reply;
  engine.deliverFromInterface(kNativeChannel, encodeMethodCall({"cancel", Value()}),
                              [&](std::vector<uint8_t> bytes) { reply = std::move(bytes); });
  EXPECT_EQ(reply, (std::vector<uint8_t>{0x00, 0x01}));

  EXPECT_EQ(window.frame(), initial);
  window.setFrame(Rect{10, 20, 400, 300});
  EXPECT_EQ(window.frame(), (Rect{10, 20, 980, 640}));
  window.setFrame(Rect{0, 0, 1000, 100});
  EXPECT_EQ(window.frame(), (Rect{0, 0, 1000, 640}));
  window.setFrame(Rect{0, 0, 1600, 1000});
  EXPECT_EQ(window.frame(), (Rect{0, 0, 1600, 1000}));
}

}  // namespace
}  // namespace nimbra
