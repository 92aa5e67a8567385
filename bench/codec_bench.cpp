// Encoding and decoding the service's two largest answers through the standard codec, as
// they travel: inside a success envelope. Throughput is reported in bytes of wire format.
//
// Run: build-*/codec_bench (a Release build; Debug numbers mean nothing).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "channel/standard_codec.h"

namespace nimbra {
namespace {

// A large-file scan answer with `count` items whose paths look like a user's projects.
Value largeFileAnswer(int count) {
  ValueList items;
  items.reserve(count);
  for (int i = 0; i < count; ++i) {
    const std::string name = "recording-" + std::to_string(100000 + i) + ".mov";
    ValueMap item;
    item["path"] = Value("/home/someone/Projects/customer-archive/2026/videos/raw/" + name);
    item["name"] = Value(name);
    item["size"] = Value(int64_t{104857600} + int64_t{i} * 7919 * 4096);
    item["ext"] = Value("mov");
    item["modified"] = Value(int64_t{1760000000} + i);
    items.push_back(Value(std::move(item)));
  }
  return Value(ValueMap{{"items", Value(std::move(items))},
                        {"scanned", Value(int64_t{183211})},
                        {"cancelled", Value(false)}});
}

// A disk usage tree of `budget` nodes: folders of twelve entries, three levels of folders,
// files below.
Value diskNode(const std::string& parent, const std::string& name, int depth, int& budget) {
  --budget;
  const std::string path = parent + "/" + name;
  ValueList children;
  int64_t size = 4096;
  int64_t files = 0;
  const bool isDir = depth < 3;
  if (isDir) {
    for (int i = 0; i < 12 && budget > 0; ++i) {
      Value child = diskNode(path, (depth < 2 ? "folder-" : "file-") + std::to_string(i) +
                                       (depth < 2 ? "" : ".dat"),
                             depth + 1, budget);
      const auto& fields = *child.getIf<ValueMap>();
      size += *fields.at("size").getIf<int64_t>();
      files += *fields.at("files").getIf<int64_t>();
      children.push_back(std::move(child));
    }
  } else {
    size = 1000003 * (budget % 97 + 1);
    files = 1;
  }
  return Value(ValueMap{{"name", Value(name)},
                        {"path", Value(path)},
                        {"size", Value(size)},
                        {"files", Value(files)},
                        {"isDir", Value(isDir)},
                        {"children", Value(std::move(children))}});
}

Value diskTreeAnswer(int nodes) {
  int budget = nodes;
  Value root = diskNode("/home/someone", "Documents", 0, budget);
  // Folders of twelve, three levels deep, hold 1 + 12 + 144 + 1728 = 1885 nodes; more
  // folders of files at the top make the count exact.
  ValueList extra;
  while (budget > 0) {
    const std::string name = "more-" + std::to_string(extra.size());
    extra.push_back(diskNode("/home/someone/Documents", name, 2, budget));
  }
  auto& children = *root.getIf<ValueMap>()->at("children").getIf<ValueList>();
  for (Value& v : extra) children.push_back(std::move(v));
  return root;
}

void encodeAnswer(benchmark::State& state, const Value& answer) {
  const size_t wireSize = encodeSuccessEnvelope(answer).size();
  for (auto _ : state) {
    std::vector<uint8_t> wire = encodeSuccessEnvelope(answer);
    benchmark::DoNotOptimize(wire.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wireSize));
  state.counters["wire_bytes"] = static_cast<double>(wireSize);
}

void decodeAnswer(benchmark::State& state, const Value& answer) {
  const std::vector<uint8_t> wire = encodeSuccessEnvelope(answer);
  for (auto _ : state) {
    Decoded<Envelope> decoded = decodeEnvelope(wire);
    if (!decoded) state.SkipWithError(decoded.error.c_str());
    benchmark::DoNotOptimize(decoded.value->result.variant().index());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wire.size()));
  state.counters["wire_bytes"] = static_cast<double>(wire.size());
}

const Value& largeFiles() {
  static const Value v = largeFileAnswer(400);
  return v;
}
const Value& diskTree() {
  static const Value v = diskTreeAnswer(2000);
  return v;
}
// About 1 MB on the wire: the size the answers are promised to handle well under a
// millisecond each way.
const Value& oneMegabyte() {
  static const Value v = largeFileAnswer(7800);
  return v;
}

void BM_EncodeLargeFiles(benchmark::State& s) { encodeAnswer(s, largeFiles()); }
void BM_DecodeLargeFiles(benchmark::State& s) { decodeAnswer(s, largeFiles()); }
void BM_EncodeDiskTree(benchmark::State& s) { encodeAnswer(s, diskTree()); }
void BM_DecodeDiskTree(benchmark::State& s) { decodeAnswer(s, diskTree()); }
void BM_EncodeOneMegabyte(benchmark::State& s) { encodeAnswer(s, oneMegabyte()); }
void BM_DecodeOneMegabyte(benchmark::State& s) { decodeAnswer(s, oneMegabyte()); }

BENCHMARK(BM_EncodeLargeFiles);
BENCHMARK(BM_DecodeLargeFiles);
BENCHMARK(BM_EncodeDiskTree);
BENCHMARK(BM_DecodeDiskTree);
BENCHMARK(BM_EncodeOneMegabyte)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeOneMegabyte)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace nimbra

BENCHMARK_MAIN();
