// Reads a scenario script into lines of words. Blank lines and lines starting with '#' are
// skipped; words are separated by blanks; a word in double quotes may hold blanks, with \" and
// \\ inside. A malformed line raises EScriptError naming the line number.
#pragma once

#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

namespace scenario {

class EScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ScriptLine {
  int number = 0;  // 1-based line number in the script
  std::vector<std::string> words;
};

// Splits one line into words. Raises EScriptError on an unterminated quote or a bad escape.
std::vector<std::string> SplitWords(const std::string& line, int number);

// Reads every non-blank, non-comment line of the script.
std::vector<ScriptLine> ReadScript(std::istream& in);

}  // namespace scenario
