#include "service/method_args.h"

#include <cmath>

namespace nimbra {
namespace {

// 2^63 as a double: the first value that no longer fits an int64.
constexpr double kInt64Limit = 9223372036854775808.0;

std::optional<int64_t> truncatedInt64(double d) {
  if (!std::isfinite(d)) return std::nullopt;
  const double t = std::trunc(d);
  if (t < -kInt64Limit || t >= kInt64Limit) return std::nullopt;
  return static_cast<int64_t>(t);
}

const Value* find(const ValueMap& args, const std::string& key) {
  auto it = args.find(key);
  return it == args.end() ? nullptr : &it->second;
}

}  // namespace

const ValueMap& argumentMap(const Value& arguments) {
  static const ValueMap kNone;
  if (const ValueMap* map = arguments.getIf<ValueMap>()) return *map;
  return kNone;
}

std::optional<std::string> stringArg(const ValueMap& args, const std::string& key) {
  const Value* v = find(args, key);
  if (!v) return std::nullopt;
  if (const std::string* s = v->getIf<std::string>()) return *s;
  return std::nullopt;
}

std::optional<std::string> pathArg(const ValueMap& args, const std::string& key) {
  const Value* v = find(args, key);
  if (!v) return std::nullopt;
  if (const std::string* s = v->getIf<std::string>()) return *s;
  if (const Bytes* bytes = v->getIf<Bytes>()) return std::string(bytes->begin(), bytes->end());
  return std::nullopt;
}

std::optional<bool> boolArg(const ValueMap& args, const std::string& key) {
  const Value* v = find(args, key);
  if (!v) return std::nullopt;
  if (const bool* b = v->getIf<bool>()) return *b;
  return std::nullopt;
}

std::optional<int64_t> int64Arg(const ValueMap& args, const std::string& key) {
  const Value* v = find(args, key);
  if (!v) return std::nullopt;
  if (auto i = intValue(*v)) return i;
  if (const double* d = v->getIf<double>()) return truncatedInt64(*d);
  return std::nullopt;
}

std::optional<int64_t> integralArg(const ValueMap& args, const std::string& key) {
  const Value* v = find(args, key);
  if (!v) return std::nullopt;
  if (auto i = intValue(*v)) return i;
  if (const double* d = v->getIf<double>(); d && std::isfinite(*d) && std::trunc(*d) == *d) {
    return truncatedInt64(*d);
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> stringListArg(const ValueMap& args,
                                                      const std::string& key) {
  const Value* v = find(args, key);
  if (!v) return std::nullopt;
  const ValueList* list = v->getIf<ValueList>();
  if (!list) return std::nullopt;
  std::vector<std::string> strings;
  strings.reserve(list->size());
  for (const Value& element : *list) {
    const std::string* s = element.getIf<std::string>();
    if (!s) return std::nullopt;
    strings.push_back(*s);
  }
  return strings;
}

RootMinSizeArgs decodeScanLargeFilesArgs(const ValueMap& args, const std::string& home) {
  return {pathArg(args, "root").value_or(home),
          int64Arg(args, "minSize").value_or(kLargeFilesDefaultMinSize)};
}

RootMinSizeArgs decodeScanDuplicatesArgs(const ValueMap& args, const std::string& home) {
  return {pathArg(args, "root").value_or(home),
          int64Arg(args, "minSize").value_or(kDuplicatesDefaultMinSize)};
}

AnalyzeDiskArgs decodeAnalyzeDiskArgs(const ValueMap& args, const std::string& home) {
  return {pathArg(args, "path").value_or(home),
          integralArg(args, "depth").value_or(kAnalyzeDiskDefaultDepth),
          boolArg(args, "record").value_or(false)};
}

HistoryArgs decodeHistoryArgs(const ValueMap& args) {
  const Value* path = find(args, "path");
  if (!path || path->isNull()) return {std::nullopt};
  return {pathArg(args, "path").value_or("")};
}

DiskChangesArgs decodeDiskChangesArgs(const ValueMap& args, const std::string& home) {
  return {pathArg(args, "path").value_or(home), integralArg(args, "from"), integralArg(args, "to")};
}

FileStatsArgs decodeFileStatsArgs(const ValueMap& args, const std::string& home) {
  return {pathArg(args, "path").value_or(home), stringArg(args, "kind")};
}

namespace {
// "paths" of the methods that remove or move items: a mistyped list is an empty one.
std::vector<std::string> itemPaths(const ValueMap& args) {
  return stringListArg(args, "paths").value_or(std::vector<std::string>{});
}
}  // namespace

DeleteArgs decodeDeleteItemsArgs(const ValueMap& args) {
  return {itemPaths(args), boolArg(args, "toTrash").value_or(false),
          boolArg(args, "allowAdmin").value_or(true)};
}

DeleteArgs decodeUninstallAppArgs(const ValueMap& args) {
  return {itemPaths(args), boolArg(args, "toTrash").value_or(false), true};
}

PathListArgs decodeTrashItemsArgs(const ValueMap& args) { return {itemPaths(args)}; }

PathListArgs decodeRestoreItemsArgs(const ValueMap& args) { return {itemPaths(args)}; }

PathListArgs decodeInspectItemsArgs(const ValueMap& args) { return {itemPaths(args)}; }

EmptyTrashArgs decodeEmptyTrashArgs(const ValueMap& args) {
  const Value* paths = find(args, "paths");
  if (!paths || paths->isNull()) return {std::nullopt};
  return {itemPaths(args)};
}

PathArgs decodePathArgs(const ValueMap& args) { return {pathArg(args, "path")}; }

StartupItemArgs decodeStartupItemArgs(const ValueMap& args) {
  return {stringArg(args, "id").value_or(""), stringArg(args, "kind").value_or(""),
          boolArg(args, "enabled").value_or(true)};
}

AppLeftoversArgs decodeAppLeftoversArgs(const ValueMap& args) {
  return {stringArg(args, "bundleId").value_or(""), stringArg(args, "name").value_or("")};
}

}  // namespace nimbra
