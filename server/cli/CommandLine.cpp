#include "server/cli/CommandLine.h"

#include <charconv>

namespace server {

CommandLine::CommandLine(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
                         const std::set<std::string>& flags) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0 || arg == "--") {
      positional_.push_back(arg);
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (flags.count(name)) {
      if (equals != std::string::npos) throw EUsage("option " + name + " takes no value");
      flags_.insert(name);
    } else if (valueOptions.count(name)) {
      if (equals != std::string::npos) {
        values_[name] = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        values_[name] = args[++i];
      } else {
        throw EUsage("option " + name + " needs a value");
      }
    } else {
      throw EUsage("unknown option " + name);
    }
  }
}

std::optional<std::string> CommandLine::Value(const std::string& name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::string CommandLine::Required(const std::string& name) const {
  const auto value = Value(name);
  if (!value || value->empty()) throw EUsage("option " + name + " is required");
  return *value;
}

int64_t CommandLine::Number(const std::string& name, int64_t fallback, int64_t min, int64_t max) const {
  const auto value = Value(name);
  if (!value) return fallback;
  int64_t n = 0;
  const char* end = value->data() + value->size();
  const auto [ptr, ec] = std::from_chars(value->data(), end, n);
  if (ec != std::errc() || ptr != end || n < min || n > max) {
    throw EUsage("option " + name + " must be a whole number from " + std::to_string(min) + " to " +
                 std::to_string(max) + ", not \"" + *value + "\"");
  }
  return n;
}

}  // namespace server
