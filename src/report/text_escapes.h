#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velgor {

// Appends `utf8` as a JSON string, quotes included: '"', '\' and the control
// characters escaped.
void appendJsonString(std::string& out, std::string_view utf8);
// Appends `utf8` as the value of a Prometheus label, quotes included: '\', '"'
// and the line feed escaped.
void appendLabelValue(std::string& out, std::string_view utf8);
// Appends a number as both formats write it, whatever the process's locale:
// '.' before the fraction, the shortest digits that read back the same.
void appendNumber(std::string& out, double value);
void appendNumber(std::string& out, std::uint64_t value);
// A time in seconds, to the millisecond.
void appendSeconds(std::string& out, double seconds);

}  // namespace velgor
