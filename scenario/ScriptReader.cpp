#include "scenario/ScriptReader.h"

namespace scenario {

std::vector<std::string> SplitWords(const std::string& line, int number) {
  std::vector<std::string> words;
  std::size_t i = 0;
  const auto fail = [number](const std::string& what) {
    throw EScriptError("line " + std::to_string(number) + ": " + what);
  };
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
      ++i;
      continue;
    }
    std::string word;
    if (line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\') {
          if (i >= line.size()) fail("bad escape in quoted word");
          const char escaped = line[i++];
          if (escaped == 'n') {
            word += '\n';
          } else if (escaped == 't') {
            word += '\t';
          } else if (escaped == 'r') {
            word += '\r';
          } else if (escaped == '"' || escaped == '\\') {
            word += escaped;
          } else {
            fail("bad escape in quoted word");
          }
        } else {
          word += c;
        }
      }
      if (!closed) fail("unterminated quoted word");
      if (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
        fail("text right after a closing quote");
      }
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') word += line[i++];
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::vector<ScriptLine> ReadScript(std::istream& in) {
  std::vector<ScriptLine> lines;
  std::string text;
  int number = 0;
  while (std::getline(in, text)) {
    ++number;
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos || text[first] == '#') continue;
    lines.push_back({number, SplitWords(text, number)});
  }
  return lines;
}

}  // namespace scenario
