#include "host/embedding/main_window.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "service/nimbra_native.h"

namespace nimbra {

PluginRegistrar& PluginRegistry::registrarForPlugin(std::string_view key) {
  registrars_.push_back(
      std::make_unique<PluginRegistrar>(PluginRegistrar{std::string(key), messenger_}));
  return *registrars_.back();
}

std::vector<std::string> PluginRegistry::keys() const {
  std::vector<std::string> keys;
  keys.reserve(registrars_.size());
  for (const auto& registrar : registrars_) keys.push_back(registrar->key);
  return keys;
}

void registerGeneratedPlugins(PluginRegistry& registry) {
  for (std::string_view key : kGeneratedPluginKeys) registry.registrarForPlugin(key);
}

void AppDelegate::terminate(int status) const {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  ::_exit(status);
}

void MainFlutterWindow::awakeFromNib() {
  contentViewController_ = std::make_unique<ViewController>(engine_);
  // Installing the content view controller may resize the window to the content's size; the
  // frame from the interface description wins.
  const Rect remembered = frame_;
  setFrame(remembered);
  setMinSize(kMinimumSize);
  registerGeneratedPlugins(contentViewController_->registry());
  NimbraNative::registerWith(&contentViewController_->engine());
}

void MainFlutterWindow::setFrame(Rect frame) {
  frame.width = std::max(frame.width, minSize_.width);
  frame.height = std::max(frame.height, minSize_.height);
  frame_ = frame;
}

void MainFlutterWindow::setMinSize(Size size) {
  minSize_ = size;
  setFrame(frame_);
}

void MainFlutterWindow::close(int status) const {
  // It is the only window, and the delegate answers that closing the last one quits.
  delegate_.terminate(status);
}

}  // namespace nimbra
