// Reading a command line against a table of options, the one way every tool
// here does it: an argument that begins with '-' (other than "-" itself) is
// an option until "--"; every other argument, and all after "--", is an
// operand, kept in order. An option that takes a value takes the next
// argument, whatever it holds. Each tool words its own complaints.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace mdindex::tools {

// One row of a tool's option table.
template <class Settings>
struct OptionRow {
  const char* flag;
  bool takesValue;
  void (*apply)(Settings&, const std::string& value);  // value is "" for a plain flag
};

enum class ArgumentError {
  UnknownOption,  // not in the table
  MissingValue,   // the option takes a value and was the last argument
};

struct ArgumentFault {
  ArgumentError error;
  std::string option;  // the argument at fault, as given
};

// Applies the options of `args` to `settings` in the order given and appends
// the operands to `operands`. Stops at the first fault and returns it.
template <class Settings>
std::optional<ArgumentFault> readOptions(const std::vector<std::string>& args,
                                         std::type_identity_t<std::span<const OptionRow<Settings>>> table,
                                         Settings& settings, std::vector<std::string>& operands) {
  bool optionsDone = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsDone || a.size() < 2 || a[0] != '-') {
      operands.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsDone = true;
      continue;
    }
    const OptionRow<Settings>* row = nullptr;
    for (const auto& r : table)
      if (a == r.flag) row = &r;
    if (!row) return ArgumentFault{ArgumentError::UnknownOption, a};
    std::string value;
    if (row->takesValue) {
      if (i + 1 >= args.size()) return ArgumentFault{ArgumentError::MissingValue, a};
      value = args[++i];
    }
    row->apply(settings, value);
  }
  return std::nullopt;
}

}  // namespace mdindex::tools
