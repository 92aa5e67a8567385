#pragma once

// Shared by the finder and application tests: a fixture that calls the service through its
// channel on a temporary tree, with a clock that lets every progress event through and can
// cancel the running scan at an exact point; and short readers for the answers.

#include <gtest/gtest.h>

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

#include "service/nimbra_native.h"
#include "support/channel_harness.h"
#include "support/temp_tree.h"

namespace nimbra::test {

using Paths = std::vector<std::string>;

// The value at `key`, or T{} and a test failure when it is missing or of another type.
template <class T>
T get(const ValueMap& map, const std::string& key) {
  auto found = map.find(key);
  const T* value = found == map.end() ? nullptr : found->second.template getIf<T>();
  EXPECT_NE(value, nullptr) << "no " << key << " of the expected type";
  return value ? *value : T{};
}

inline ValueMap asMap(const Value& value) {
  const ValueMap* map = value.getIf<ValueMap>();
  EXPECT_NE(map, nullptr) << "not a map";
  return map ? *map : ValueMap{};
}

// The string at `key` of every map in `list`.
inline Paths stringsAt(const ValueList& list, const std::string& key) {
  Paths strings;
  for (const Value& item : list) strings.push_back(get<std::string>(asMap(item), key));
  return strings;
}

struct Event {
  std::string task, path;
  int64_t count, bytes;
  friend bool operator==(const Event&, const Event&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Event& e) {
    return out << "{" << e.task << " '" << e.path << "' " << e.count << " " << e.bytes << "}";
  }
};

class FinderTest : public ::testing::Test {
 protected:
  struct Outcome { ValueMap answer; std::vector<Event> events; };

  Outcome call(const std::string& method, ValueMap args) {
    CallOutcome outcome = harness.call(method, Value(std::move(args)));
    EXPECT_TRUE(outcome.answer) << method << " did not answer";
    Outcome result{outcome.answer ? asMap(*outcome.answer) : ValueMap{}, {}};
    for (const ValueMap& e : outcome.events) {
      result.events.push_back({get<std::string>(e, "task"), get<std::string>(e, "path"),
                               get<int64_t>(e, "count"), get<int64_t>(e, "bytes")});
    }
    return result;
  }
  // Cancels the running scan when the clock is read for the n-th time (from 1): progress()
  // reads it once per offered event, before it takes any lock.
  void cancelAtReading(int reading) { cancelAt_ = reading; }

  TempTree tree;
  std::atomic<int> readings_{0}, cancelAt_{0};
  // The clock moves one second per reading, so the 0.12 s throttle never drops an event and
  // the events received are exactly those the scan offers.
  ChannelHarness harness{NimbraNative::Seams{.clock = [this] {
    const int reading = ++readings_;
    if (reading == cancelAt_) harness.service().cancel();
    return 1000.0 + reading;
  }}};
};

}  // namespace nimbra::test
