#include "replay_input.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "chain/printable.hpp"

namespace replay {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A plain decimal number: an optional sign, digits with at most one point
// (at least one digit), an optional exponent with digits.
bool IsDecimal(std::string_view t) {
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t exponent = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == t.size();
}

// One decimal number filling the whole token, rounded once to the nearest
// float (strtof, in the "C" locale the program never leaves). A number too
// small for a float's range rounds to a subnormal or to zero, as any value
// does to its nearest float; only one too large is out of range.
std::optional<float> ParseNumber(std::string_view token, std::string* why) {
  if (!IsDecimal(token)) {
    if (why) *why = "not a number: '" + chain::Printable(token) + "'";
    return std::nullopt;
  }
  const std::string text(token);
  char* end = nullptr;
  const float value = std::strtof(text.c_str(), &end);
  if (end != text.c_str() + text.size()) {
    if (why) *why = "not a number: '" + chain::Printable(token) + "'";
    return std::nullopt;
  }
  if (!std::isfinite(value) || std::fabs(value) > kMaxCoordinate) {
    if (why) *why = "number out of range: '" + chain::Printable(token) + "'";
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<MouseSample> ParseMouseLine(std::string_view line, std::string* why) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::string_view tokens[2];
  int count = 0;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at == line.size()) break;
    std::size_t end = at;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    if (count == 2) {
      if (why) *why = "expected two numbers \"X Y\", found more";
      return std::nullopt;
    }
    tokens[count++] = line.substr(at, end - at);
    at = end;
  }
  if (count != 2) {
    if (why) *why = "expected two numbers \"X Y\", found " + std::to_string(count);
    return std::nullopt;
  }
  const auto x = ParseNumber(tokens[0], why);
  if (!x) return std::nullopt;
  const auto y = ParseNumber(tokens[1], why);
  if (!y) return std::nullopt;
  return MouseSample{*x, *y};
}

ReadOutcome ReadMousePath(std::FILE* input,
                          const std::function<void(const MouseSample&)>& onSample) {
  ReadOutcome outcome;
  // The line so far: never more than one byte (a carriage return) past the
  // limit, as reading stops at the first byte beyond it.
  std::string line;
  const std::string tooLong = "line longer than " + std::to_string(kMaxLineLength) + " bytes";

  const auto finishLine = [&]() -> bool {
    ++outcome.line;
    const bool endsInReturn = !line.empty() && line.back() == '\r';
    if (line.size() - (endsInReturn ? 1 : 0) > kMaxLineLength) {
      outcome.error = tooLong;
      return false;
    }
    std::string why;
    const auto sample = ParseMouseLine(line, &why);
    if (!sample) {
      outcome.error = why;
      return false;
    }
    onSample(*sample);
    line.clear();
    return true;
  };

  std::vector<char> buffer(1 << 16);
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), input);
    for (std::size_t i = 0; i < got; ++i) {
      const char c = buffer[i];
      if (c == '\n') {
        if (!finishLine()) {
          outcome.ok = false;
          return outcome;
        }
        continue;
      }
      line.push_back(c);
      // Longer than a line may be even with a carriage return still to
      // come: say so now, whether or not the line ever ends.
      if (line.size() > kMaxLineLength + 1) {
        outcome.ok = false;
        outcome.line += 1;
        outcome.error = tooLong;
        return outcome;
      }
    }
    if (got < buffer.size()) break;
  }
  if (std::ferror(input)) {
    outcome.ok = false;
    outcome.readError = true;
    outcome.error = std::string("cannot read the input") +
                    (outcome.line > 0 ? " after line " + std::to_string(outcome.line) : "") + ": " +
                    std::strerror(errno ? errno : EIO);
    return outcome;
  }
  if (!line.empty() && !finishLine()) outcome.ok = false;
  return outcome;
}

}  // namespace replay
