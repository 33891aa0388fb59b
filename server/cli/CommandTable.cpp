#include "server/cli/CommandTable.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>
#include <set>
#include <sstream>

namespace server {
namespace {

// Calls visit for every option of the command, its groups' included, in the table's order.
template <class Visit>
void ForEachOption(const CommandSpec& command, Visit visit) {
  for (const OptionSpec& option : command.options) visit(option);
  for (const OptionGroup& group : command.groups) {
    for (const OptionSpec& option : group.options) visit(option);
  }
}

CommandLine Parse(const CommandSpec& command, const std::vector<std::string>& args) {
  std::set<std::string> values, flags = {"--help"}, configurable;
  bool configFile = false;
  ForEachOption(command, [&](const OptionSpec& option) {
    if (option.kind == OptionSpec::Kind::kValue) values.insert(option.name);
    if (option.kind == OptionSpec::Kind::kFlag) flags.insert(option.name);
    if (option.kind == OptionSpec::Kind::kConfigFile) configFile = true;
    if (option.configurable) configurable.insert(option.name);
  });
  return CommandLine(args, values, flags, configFile ? configurable : std::set<std::string>());
}

// A stray positional argument is named before a missing option, a missing positional argument
// after it, and the values are taken in the table's order: each message names the first fault.
ServerSettings Read(const CommandSpec& command, const CommandLine& cl) {
  const auto& positional = cl.Positional();
  if (command.argument.empty() && !positional.empty()) throw EUsage("unexpected argument " + positional[0]);
  ForEachOption(command, [&](const OptionSpec& option) {
    if (option.required) cl.Required(option.name);
  });
  if (!command.argument.empty() && command.manyArguments && positional.empty()) {
    throw EUsage("expected at least one " + command.argument + " argument");
  }
  if (!command.argument.empty() && !command.manyArguments && positional.size() != 1) {
    throw EUsage("expected exactly one " + command.argument + " argument");
  }
  ServerSettings settings;
  settings.arguments = positional;
  ForEachOption(command, [&](const OptionSpec& option) {
    if (option.kind == OptionSpec::Kind::kValue) {
      if (const auto value = cl.Value(option.name)) option.take(*value, settings);
    } else if (option.kind == OptionSpec::Kind::kFlag) {
      if (cl.Flag(option.name)) option.take(std::string(), settings);
    }
  });
  if (command.check) command.check(settings);
  return settings;
}

// "--db DB [--create] [--sync full|normal] … [limits] FILE", wrapped under its first word.
std::string UsageLine(const CommandSpec& command) {
  std::vector<std::string> words;
  for (const OptionSpec& option : command.options) {
    const std::string word = option.value.empty() ? option.name : option.name + " " + option.value;
    words.push_back(option.required ? word : "[" + word + "]");
  }
  for (const OptionGroup& group : command.groups) words.push_back("[" + group.name + "]");
  if (!command.argument.empty()) words.push_back(command.argument + (command.manyArguments ? "..." : ""));

  constexpr size_t kWidth = 100;
  std::string out = "usage: " + std::string(kProgramName) + " " + command.name;
  const size_t indent = out.size() + 1;
  size_t lineStart = 0;
  for (const std::string& word : words) {
    if (out.size() - lineStart + 1 + word.size() > kWidth && out.size() - lineStart > indent) {
      out += "\n";
      lineStart = out.size();
      out += std::string(indent - 1, ' ');
    }
    out += " " + word;
  }
  return out + "\n";
}

// CLI11's help layout with this program's words: options in two columns (the option and what it
// takes, then its help), the command's own options first without a heading, then each group
// under its heading (CLI11 knows a group by its name: a heading may span lines); the program's usage lists the commands in the same two columns.
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter(const CommandSpec* command, std::string footer) : command_(command), footer_(std::move(footer)) {
    column_width(command != nullptr ? 26 : 17);
  }

  std::string make_option_name(const CLI::Option* option, bool) const override { return option->get_name(); }
  // A member of a family of commands is known to CLI11 as "user.add" (its names take no blanks).
  std::string make_subcommand(const CLI::App* sub) const override {
    std::string name = sub->get_name();
    std::replace(name.begin(), name.end(), '.', ' ');
    std::stringstream out;
    CLI::detail::format_help(out, name, sub->get_description(), get_column_width());
    return out.str();
  }
  std::string make_option_opts(const CLI::Option* option) const override {
    return option->get_option_text().empty() ? std::string() : " " + option->get_option_text();
  }

  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    if (command_ == nullptr) {
      std::string out = "usage: " + std::string(kProgramName) + " <command> [options]\n\ncommands:\n";
      for (const CLI::App* sub : app->get_subcommands({})) out += make_subcommand(sub);
      return out + "\n" + footer_;
    }
    std::string out = UsageLine(*command_) + "\n" + command_->description;
    const auto groups = app->get_groups();
    for (size_t i = 0; i < groups.size(); ++i) {
      for (const OptionGroup& group : command_->groups) {
        if (group.name == groups[i]) out += group.heading + ":\n";
      }
      for (const CLI::Option* option :
           app->get_options([&](const CLI::Option* o) { return o->get_group() == groups[i]; })) {
        out += make_option(option, false);
      }
    }
    return out + footer_;
  }

 private:
  const CommandSpec* command_;
  std::string footer_;
};

// The option's help with the default it would take.
std::string HelpOf(const OptionSpec& option) {
  if (!option.shownDefault) return option.help;
  ServerSettings defaults;
  return option.help + " (default " + option.shownDefault(defaults) + ")";
}

}  // namespace

std::string OptionSpec::ValueIn(const ServerSettings& settings) const {
  ServerSettings copy = settings;
  if (shown) return shown(copy);
  if (shownDefault) return shownDefault(copy);
  return {};
}

OptionSpec ConfigFileOption(std::string help) {
  return OptionSpec{.kind = OptionSpec::Kind::kConfigFile, .name = "--config", .value = "FILE", .help = std::move(help)};
}

ServerSettings ReadSettings(const CommandSpec& command, const std::vector<std::string>& args) {
  ServerSettings settings = Read(command, Parse(command, args));
  settings.commandLine = args;
  return settings;
}

int RunCommand(const CommandSpec& command, const std::vector<std::string>& args, std::ostream& out) {
  const CommandLine cl = Parse(command, args);
  if (cl.Flag("--help")) {
    out << CommandHelp(command);
    return 0;
  }
  ServerSettings settings = Read(command, cl);
  settings.commandLine = args;
  return command.run(settings);
}

std::string CommandHelp(const CommandSpec& command) {
  CLI::App app;
  app.set_help_flag();
  const auto add = [&app](const OptionSpec& option, const std::string& group) {
    CLI::Option* added =
        option.kind == OptionSpec::Kind::kFlag ? app.add_flag(option.name) : app.add_option(option.name);
    added->description(HelpOf(option))->option_text(option.value)->group(group);
  };
  for (const OptionSpec& option : command.options) add(option, "Options");
  for (const OptionGroup& group : command.groups) {
    for (const OptionSpec& option : group.options) add(option, group.name);
  }
  app.formatter(std::make_shared<HelpFormatter>(&command, command.footer));
  return app.help();
}

std::string ProgramUsage(const std::vector<CommandSpec>& commands, const std::string& footer) {
  CLI::App app;
  app.set_help_flag();
  for (const CommandSpec& command : commands) {
    std::string name = command.name;
    std::replace(name.begin(), name.end(), ' ', '.');
    app.add_subcommand(name, command.summary);
  }
  app.formatter(std::make_shared<HelpFormatter>(nullptr, footer));
  return app.help();
}

}  // namespace server
