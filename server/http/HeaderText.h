// Header values read the way HTTP reads them: a token such as "chunked" or "100-continue" matches
// whatever its letter case and the blanks around it. Shared by the request policy and the
// sessions, so both judge a header alike. Also the content type of every JSON answer.
//
// Stateless functions; thread-safe.
#pragma once

#include <boost/beast/core/string.hpp>

#include <algorithm>
#include <cctype>
#include <string_view>

namespace server::header {

// The content type of every answer with a JSON body.
inline constexpr const char* kJson = "application/json; charset=utf-8";

inline std::string_view View(boost::beast::string_view text) { return {text.data(), text.size()}; }

// text without the spaces and tabs around it.
inline std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// True when a header's value is the token, letter case and surrounding blanks aside.
inline bool Is(boost::beast::string_view value, std::string_view token) {
  return EqualsNoCase(Trimmed(View(value)), token);
}

}  // namespace server::header
