#pragma once

// The names of the service's two channels, as the interface knows them.

namespace nimbra {

inline constexpr const char* kNativeChannel = "nimbra/native";
inline constexpr const char* kEventsChannel = "nimbra/events";

}  // namespace nimbra
