#pragma once

// The embedding stand-in: the delegate, the one main window and the plug-in registry, standing
// in for the desktop embedding's own. On this machine the "window" is the session with the
// interface (a `call`, `serve` or `ui` front end, or a command for people) and the engine is
// the in-process messenger (engine_messenger.h).

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/embedding/engine_messenger.h"

namespace nimbra {

struct Size {
  double width = 0;
  double height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// What a plug-in's registration receives: its key and the messenger for its own channels.
struct PluginRegistrar {
  std::string key;
  BinaryMessenger* messenger = nullptr;
};

// Hands out one registrar per plug-in key and remembers the keys in the order asked for.
// Registrars live as long as the registry.
class PluginRegistry {
 public:
  explicit PluginRegistry(BinaryMessenger* messenger) : messenger_(messenger) {}
  PluginRegistry(const PluginRegistry&) = delete;
  PluginRegistry& operator=(const PluginRegistry&) = delete;

  PluginRegistrar& registrarForPlugin(std::string_view key);
  std::vector<std::string> keys() const;

 private:
  BinaryMessenger* messenger_;
  std::vector<std::unique_ptr<PluginRegistrar>> registrars_;
};

// The plug-ins the interface uses, in the order they must be registered. The plug-ins
// themselves live outside this program and keep their own channels; the shell only gives
// each its registrar.
inline constexpr std::array<std::string_view, 4> kGeneratedPluginKeys{
    "ScreenRetrieverMacosPlugin", "SharedPreferencesPlugin", "UrlLauncherPlugin",
    "WindowManagerPlugin"};

void registerGeneratedPlugins(PluginRegistry& registry);

// The view controller stand-in: the engine's messenger, and the plug-in registry it serves as.
class ViewController {
 public:
  explicit ViewController(EngineMessenger& engine) : engine_(engine), registry_(&engine) {}
  EngineMessenger& engine() { return engine_; }
  PluginRegistry& registry() { return registry_; }

 private:
  EngineMessenger& engine_;
  PluginRegistry registry_;
};

class AppDelegate {
 public:
  // Closing the main window quits the application.
  bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
  bool applicationSupportsSecureRestorableState() const { return true; }
  // Ends the process at once with `status`: nothing is saved and running work ends with the
  // process. Output already written by the front end is flushed first so no answer is lost.
  [[noreturn]] void terminate(int status) const;
};

class MainFlutterWindow {
 public:
  static constexpr Size kMinimumSize{980, 640};
  // The interface description's frame: any comfortable size above the minimum.
  static constexpr Rect kInitialFrame{0, 0, 1280, 800};

  // `engine` and `delegate` are not owned and must outlive the window.
  MainFlutterWindow(EngineMessenger& engine, const AppDelegate& delegate)
      : engine_(engine), delegate_(delegate) {}
  MainFlutterWindow(const MainFlutterWindow&) = delete;
  MainFlutterWindow& operator=(const MainFlutterWindow&) = delete;

  // The window's loading step: content view controller, minimum size, the four plug-ins in
  // order, then both channels of the native service on the engine's messenger. Main loop only.
  void awakeFromNib();

  Rect frame() const { return frame_; }
  // Sizes below the minimum are raised to it: the window cannot be made smaller.
  void setFrame(Rect frame);
  Size minSize() const { return minSize_; }
  void setMinSize(Size size);
  // Present after awakeFromNib.
  ViewController* contentViewController() { return contentViewController_.get(); }

  // Closing the only window quits the application with `status`.
  [[noreturn]] void close(int status) const;

 private:
  EngineMessenger& engine_;
  const AppDelegate& delegate_;
  Rect frame_ = kInitialFrame;
  Size minSize_{};
  std::unique_ptr<ViewController> contentViewController_;
};

}  // namespace nimbra
