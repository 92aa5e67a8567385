// The icon work of one application, alone: read the icon file, decode the chosen image, scale
// it to 64 x 64, encode the PNG and the Base64 text. The bundle comes from NIMBRA_BENCH_BUNDLE
// (bench/apps.sh points it at a generated one); without it a bundle is built in a temporary
// folder with an icns of five PNG sizes.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "ops/apps/app_icon.h"
#include "platform/formats/png_codec.h"
#include "platform/formats/property_list.h"

namespace {

using namespace nimbra;

std::string bigEndian32(uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

// A bundle of our own: an icns of five PNG sizes of a gradient.
std::string buildBundle() {
  std::string folder = std::filesystem::temp_directory_path() / "nimbra-icon-bench-XXXXXX";
  if (!::mkdtemp(folder.data())) std::abort();
  std::string body;
  for (const auto& [kind, side] : {std::pair{"ic11", 32u}, {"ic12", 64u}, {"ic07", 128u}, {"ic08", 256u}, {"ic09", 512u}}) {
    RgbaImage image{side, side, std::vector<uint8_t>(size_t{side} * side * 4)};
    for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = static_cast<uint8_t>(i * 7 / 5);
    const std::string png = encodePng(image).value();
    body += kind + bigEndian32(static_cast<uint32_t>(png.size() + 8)) + png;
  }
  std::filesystem::create_directories(folder + "/App.app/Contents/Resources");
  std::ofstream(folder + "/App.app/Contents/Resources/AppIcon.icns", std::ios::binary)
      << "icns" << bigEndian32(static_cast<uint32_t>(body.size() + 8)) << body;
  return folder + "/App.app";
}

void BM_BundleIcon(benchmark::State& state) {
  const char* given = std::getenv("NIMBRA_BENCH_BUNDLE");
  const std::string bundle = given ? given : buildBundle();
  const std::optional<PropertyList> info = PropertyList::readDictionary(bundle + "/Contents/Info.plist");
  for (auto _ : state) {
    const std::string icon = bundleIconBase64(bundle, info);
    if (icon.empty()) state.SkipWithError("no icon");
    benchmark::DoNotOptimize(icon);
  }
  if (!given) std::filesystem::remove_all(std::filesystem::path(bundle).parent_path());
}
BENCHMARK(BM_BundleIcon)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
