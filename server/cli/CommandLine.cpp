#include "server/cli/CommandLine.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>

namespace server {
namespace {

// "--name" of "--name=value".
std::string OptionName(const std::string& arg) { return arg.substr(0, arg.find('=')); }

}  // namespace

// CLI11 splits the arguments: it knows every option, takes "--name value" and "--name=value",
// keeps the last of an option given twice (so command-line options placed after those of a
// configuration file win), and gathers the positional arguments. Its errors are turned into this
// program's own messages, which name the option as the user wrote it.
CommandLine::CommandLine(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
                         const std::set<std::string>& flags) {
  CLI::App app;
  app.set_help_flag();  // --help is one of our flags: each command prints its own text
  app.allow_extras();   // unknown options are collected and reported below, by name
  std::map<std::string, CLI::Option*> valueSlots;
  for (const std::string& name : valueOptions) {
    valueSlots[name] =
        app.add_option(name)->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  }
  std::map<std::string, CLI::Option*> flagSlots;
  for (const std::string& name : flags) flagSlots[name] = app.add_flag(name);
  app.add_option("arguments", positional_)->expected(0, -1);

  // A flag takes no value, not even "--create=yes"; an empty "--name=" is an empty value (CLI11
  // would take the next argument for it).
  std::vector<std::string> reversed;
  for (const std::string& arg : args) {
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      const std::string name = OptionName(arg);
      if (flags.count(name)) throw EUsage("option " + name + " takes no value");
      if (valueOptions.count(name) && arg.size() == name.size() + 1) {
        reversed.push_back(name);
        reversed.push_back("");
        continue;
      }
    }
    reversed.push_back(arg);
  }
  std::reverse(reversed.begin(), reversed.end());  // CLI11 takes its arguments last first

  try {
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch& e) {
    // Arguments ran out before a value: the option is the last argument.
    if (args.empty()) throw EUsage(e.what());
    throw EUsage("option " + OptionName(args.back()) + " needs a value");
  } catch (const CLI::ParseError& e) {
    throw EUsage(e.what());
  }
  for (const std::string& extra : app.remaining()) {
    if (extra.size() > 1 && extra[0] == '-' && extra != "--") throw EUsage("unknown option " + OptionName(extra));
  }
  for (const auto& [name, option] : valueSlots) {
    if (option->count() > 0) values_[name] = option->results().back();
  }
  for (const auto& [name, option] : flagSlots) {
    if (option->count() > 0) flags_.insert(name);
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
