// CommandLine reads the options of one subcommand with CLI11: "--name value", "--name=value", flags
// ("--help") and positional arguments. Unknown options, a missing value and a bad number raise
// EUsage with a message fit to print after the program's name. An option given twice keeps its
// last value.
//
// A command that has a configuration file names the options it may set: then "--config FILE" reads
// FILE, through CLI11, as lines "name = value" (the option's name without "--"; a flag takes
// yes/true or no/false), with '#' starting a comment line and blank lines skipped. A setting given
// twice in the file keeps its last value, and an option given on the command line wins over the
// file. An unreadable file, a line that is no setting, an unknown name and a flag that is neither
// yes nor no raise EUsage naming the file and the line.
//
// Intentionally copyable; no shared state.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace server {

class EUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CommandLine {
 public:
  // Parses args. valueOptions take a value; flags take none. Names include the leading "--".
  // configurable: the options (some of valueOptions and flags) a configuration file may set; when
  // not empty, the command takes "--config FILE". Raises EUsage.
  CommandLine(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
              const std::set<std::string>& flags, const std::set<std::string>& configurable = {});

  bool Flag(const std::string& name) const { return flags_.count(name) > 0; }
  std::optional<std::string> Value(const std::string& name) const;

  // The value of a required option. Raises EUsage when absent.
  std::string Required(const std::string& name) const;

  // The option's value as an integer in [min, max], or fallback when absent. Raises EUsage.
  int64_t Number(const std::string& name, int64_t fallback, int64_t min, int64_t max) const;

  // text as a whole decimal number in [min, max], the value of the option name. Raises EUsage.
  static int64_t ParseNumber(const std::string& name, const std::string& text, int64_t min, int64_t max);

  const std::vector<std::string>& Positional() const { return positional_; }

 private:
  std::map<std::string, std::string> values_;
  std::set<std::string> flags_;
  std::vector<std::string> positional_;
};

}  // namespace server
