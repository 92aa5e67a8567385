#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel/value.h"
#include "service/nimbra_native.h"

namespace nimbra::test {

// What one method call produced, seen from the interface's side.
struct CallOutcome {
  std::optional<Value> answer;  // the success value; absent when not implemented
  bool notImplemented = false;
  std::vector<ValueMap> events;  // events received between the call and its answer
};

// Drives a private NimbraNative through its real channels: every call is encoded with the
// standard method codec, handed to an in-process messenger, dispatched on the service's
// queues, answered on the harness's own main loop (pumped by the calling test thread), and
// decoded again. The harness listens on "nimbra/events" unless told not to.
class ChannelHarness {
 public:
  explicit ChannelHarness(NimbraNative::Seams seams = {}, bool listen = true);
  ~ChannelHarness();

  // Sends one call and pumps the main loop until its answer arrives.
  CallOutcome call(
      const std::string& method, const Value& arguments = Value(), double timeoutSeconds = 120);

  // Sends a call without waiting; collect it with wait(). Tickets count from 0.
  int send(const std::string& method, const Value& arguments = Value());
  CallOutcome wait(int ticket, double timeoutSeconds = 120);
  // Every event received so far, in arrival order.
  const std::vector<ValueMap>& events() const;
  NimbraNative& service();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace nimbra::test
