// CheckSkippedValue reads through a JSON value that a streaming reader does not use (a member it
// does not know), checking that it is well-formed. The streaming parser skips an unread value by
// counting brackets without checking what lies between them, so without this a packet with
// malformed JSON in an ignored member (`{"x":],"fields":[],…}`) would be read as if it were
// well-formed, and a stray bracket would even shift which members the reader sees.
//
// Nesting deeper than kMaxSkippedDepth is refused, which also bounds the recursion.
//
// Stateless; safe from any thread.
#pragma once

#include <simdjson.h>

#include <string_view>
#include <utility>

namespace host::wire {

inline constexpr int kMaxSkippedDepth = 512;

// Returns SUCCESS when value is well-formed JSON (consuming it), else the parser's error, or
// DEPTH_ERROR when it nests deeper than kMaxSkippedDepth.
inline simdjson::error_code CheckSkippedValue(simdjson::ondemand::value value, int depth = 0) {
  namespace od = simdjson::ondemand;
  if (depth >= kMaxSkippedDepth) return simdjson::DEPTH_ERROR;
  od::json_type type{};
  if (auto err = value.type().get(type)) return err;
  switch (type) {
    case od::json_type::array: {
      od::array array;
      if (auto err = value.get_array().get(array)) return err;
      for (auto itemResult : array) {
        od::value item;
        if (auto err = std::move(itemResult).get(item)) return err;
        if (auto err = CheckSkippedValue(item, depth + 1)) return err;
      }
      return simdjson::SUCCESS;
    }
    case od::json_type::object: {
      od::object object;
      if (auto err = value.get_object().get(object)) return err;
      for (auto fieldResult : object) {
        od::field field;
        if (auto err = std::move(fieldResult).get(field)) return err;
        std::string_view key;
        if (auto err = field.unescaped_key().get(key)) return err;
        if (auto err = CheckSkippedValue(field.value(), depth + 1)) return err;
      }
      return simdjson::SUCCESS;
    }
    case od::json_type::number: {
      double number = 0;
      return value.get_double().get(number);
    }
    case od::json_type::string: {
      std::string_view text;
      return value.get_string().get(text);
    }
    case od::json_type::boolean: {
      bool flag = false;
      return value.get_bool().get(flag);
    }
    case od::json_type::null: {
      bool isNull = false;
      if (auto err = value.is_null().get(isNull)) return err;
      return isNull ? simdjson::SUCCESS : simdjson::N_ATOM_ERROR;
    }
  }
  return simdjson::INCORRECT_TYPE;
}

// The same for a value not yet checked for an error of its own.
inline simdjson::error_code CheckSkippedValue(
    simdjson::simdjson_result<simdjson::ondemand::value> result) {
  simdjson::ondemand::value value;
  if (auto err = std::move(result).get(value)) return err;
  return CheckSkippedValue(value);
}

}  // namespace host::wire
