#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "model/problem.hpp"

namespace velmora {

// Parses instance text as exactly one JSON value: exceptions on, comments
// refused, nothing but white space after the value. Throws the library's
// parse_error on malformed text.
nlohmann::json ParseInstanceText(const std::string& text);

// Fills `problem` from a parsed instance document: nodes, agents, cost
// matrices, constraints (assignment and time-window tables, precedence lists,
// replaced wholesale) and options, in that order. Catches nothing: the first
// bad key or type raises the library's exception, and whatever was added before
// it stays in `problem`.
void ReadInstance(const nlohmann::json& document, Problem& problem);

// Integer conversions used for id and limit fields. They give the library's
// `get` result for every value it converts soundly and never perform an
// out-of-range float-to-integer cast. Non-numbers other than booleans raise the
// library's type_error 302 ("type must be number, but is ...").
//
// Unsigned 64-bit: integers wrap modulo 2^64, booleans give 0/1, floats
// truncate toward zero, with negatives and NaN giving 0 and values of 2^64 or
// more giving UINT64_MAX.
uint64_t JsonToUint64(const nlohmann::json& value);

// Signed 32-bit: integers keep their low 32 bits (two's complement), booleans
// give 0/1, floats truncate toward zero, saturating at INT32_MIN/INT32_MAX;
// NaN gives 0.
int32_t JsonToInt32(const nlohmann::json& value);

}  // namespace velmora
