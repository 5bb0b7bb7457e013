#include "mdindex/service/status.h"

#include <array>
#include <utility>

namespace mdindex::service::meta {

namespace {
constexpr std::array<std::pair<State, const char*>, 4> kStates{{
    {State::Crawling, "crawling"},
    {State::Idle, "idle"},
    {State::Off, "off"},
    {State::Stopped, "stopped"},
}};
}  // namespace

const char* stateName(State s) {
  for (auto& [st, name] : kStates)
    if (st == s) return name;
  return "unknown";
}

std::optional<State> parseState(const std::string& name) {
  for (auto& [st, n] : kStates)
    if (name == n) return st;
  return std::nullopt;
}

}  // namespace mdindex::service::meta
