#include "server/cli/CommandLine.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <istream>
#include <map>
#include <memory>

namespace server {
namespace {

// "--name" of "--name=value".
std::string OptionName(const std::string& arg) { return arg.substr(0, arg.find('=')); }

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A line of a configuration file that cannot be taken; what() is "line N: why".
class ESettingsLine : public std::runtime_error {
 public:
  ESettingsLine(int number, const std::string& why) : std::runtime_error("line " + std::to_string(number) + ": " + why) {}
};

// The format of the configuration file, for CLI11, which opens the file and applies the settings
// to the options the command line left unset. Lines "name = value"; '#' starts a comment line.
// Raises ESettingsLine.
class SettingsFile : public CLI::Config {
 public:
  SettingsFile(const std::set<std::string>& configurable, const std::set<std::string>& flags)
      : configurable_(configurable), flags_(flags) {}

  std::string to_config(const CLI::App*, bool, bool, std::string) const override { return std::string(); }

  std::vector<CLI::ConfigItem> from_config(std::istream& in) const override {
    // By name, so that a setting given twice keeps its last value (CLI11 would keep the first).
    std::map<std::string, std::string> settings;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      line = Trimmed(line);
      if (line.empty() || line[0] == '#') continue;
      const size_t equals = line.find('=');
      if (equals == std::string::npos) throw ESettingsLine(number, "expected 'name = value'");
      const std::string name = Trimmed(line.substr(0, equals));
      const std::string value = Trimmed(line.substr(equals + 1));
      if (!configurable_.count("--" + name)) throw ESettingsLine(number, "unknown setting '" + name + "'");
      if (!flags_.count("--" + name)) {
        settings[name] = value;
      } else if (value == "yes" || value == "true") {
        settings[name] = "true";
      } else if (value != "no" && value != "false") {
        throw ESettingsLine(number, name + " takes yes or no");
      }
    }
    std::vector<CLI::ConfigItem> found;
    for (auto& [name, value] : settings) found.push_back({{}, name, {value}});
    return found;
  }

 private:
  std::set<std::string> configurable_;
  std::set<std::string> flags_;
};

}  // namespace

// CLI11 splits the arguments: it knows every option, takes "--name value" and "--name=value",
// keeps the last of an option given twice, reads the configuration file, and gathers the
// positional arguments. Its errors are turned into this program's own messages, which name the
// option as the user wrote it.
CommandLine::CommandLine(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
                         const std::set<std::string>& flags, const std::set<std::string>& configurable) {
  CLI::App app;
  app.set_help_flag();  // --help is one of our flags: each command prints its own text
  app.allow_extras();   // unknown options are collected and reported below, by name
  std::set<std::string> takesValue = valueOptions;
  CLI::Option* config = nullptr;
  if (!configurable.empty()) {
    config = app.set_config("--config")->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.config_formatter(std::make_shared<SettingsFile>(configurable, flags));
    takesValue.insert("--config");
  }
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
      if (takesValue.count(name) && arg.size() == name.size() + 1) {
        reversed.push_back(name);
        reversed.push_back("");
        continue;
      }
    }
    reversed.push_back(arg);
  }
  std::reverse(reversed.begin(), reversed.end());  // CLI11 takes its arguments last first

  const auto configFile = [config]() { return config->results().empty() ? std::string() : config->results().back(); };
  try {
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch& e) {
    // Arguments ran out before a value: the option is the last argument.
    if (args.empty()) throw EUsage(e.what());
    throw EUsage("option " + OptionName(args.back()) + " needs a value");
  } catch (const CLI::FileError&) {
    throw EUsage("cannot read the configuration file " + configFile());
  } catch (const ESettingsLine& e) {
    throw EUsage(configFile() + " " + e.what());
  } catch (const CLI::ParseError& e) {
    throw EUsage(e.what());
  }
  // CLI11 reads no file for an empty name; the command line named one all the same.
  if (config != nullptr && config->count() > 0 && configFile().empty()) {
    throw EUsage("cannot read the configuration file ");
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
  return ParseNumber(name, *value, min, max);
}

int64_t CommandLine::ParseNumber(const std::string& name, const std::string& text, int64_t min, int64_t max) {
  int64_t n = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, n);
  if (ec != std::errc() || ptr != end || n < min || n > max) {
    throw EUsage("option " + name + " must be a whole number from " + std::to_string(min) + " to " +
                 std::to_string(max) + ", not \"" + text + "\"");
  }
  return n;
}

}  // namespace server
