// CommandLine reads the options of one subcommand with CLI11: "--name value", "--name=value", flags
// ("--help") and positional arguments. Unknown options, a missing value and a bad number raise
// EUsage with a message fit to print after the program's name. An option given twice keeps its
// last value, so options read from a configuration file and placed first yield to the command line.
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
  // Raises EUsage.
  CommandLine(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
              const std::set<std::string>& flags);

  bool Flag(const std::string& name) const { return flags_.count(name) > 0; }
  std::optional<std::string> Value(const std::string& name) const;

  // The value of a required option. Raises EUsage when absent.
  std::string Required(const std::string& name) const;

  // The option's value as an integer in [min, max], or fallback when absent. Raises EUsage.
  int64_t Number(const std::string& name, int64_t fallback, int64_t min, int64_t max) const;

  const std::vector<std::string>& Positional() const { return positional_; }

 private:
  std::map<std::string, std::string> values_;
  std::set<std::string> flags_;
  std::vector<std::string> positional_;
};

}  // namespace server
