#include "replay_input.hpp"

#include <charconv>
#include <cmath>
#include <vector>

namespace replay {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// One decimal number filling the whole token; '+' is allowed as a sign
// because from_chars only takes '-'.
std::optional<float> ParseNumber(std::string_view token, std::string* why) {
  std::string_view digits = token;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty() || digits.front() == '+' || (digits.front() == '-' && token.front() == '+')) {
    if (why) *why = "not a number: '" + std::string(token) + "'";
    return std::nullopt;
  }
  float value = 0.0f;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    if (why) *why = "number out of range: '" + std::string(token) + "'";
    return std::nullopt;
  }
  if (ec != std::errc() || ptr != end) {
    if (why) *why = "not a number: '" + std::string(token) + "'";
    return std::nullopt;
  }
  if (!std::isfinite(value) || std::fabs(value) > kMaxCoordinate) {
    if (why) *why = "number out of range: '" + std::string(token) + "'";
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
  std::string line;        // the line so far, kept up to one byte past the limit
  std::size_t length = 0;  // every byte of the line, kept or not

  const auto finishLine = [&]() -> bool {
    ++outcome.line;
    const bool endsInReturn = length == line.size() && !line.empty() && line.back() == '\r';
    const std::size_t content = endsInReturn ? length - 1 : length;
    length = 0;
    if (content > kMaxLineLength) {
      outcome.error = "line longer than " + std::to_string(kMaxLineLength) + " bytes";
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
      ++length;
      if (line.size() <= kMaxLineLength) line.push_back(c);
    }
    if (got < buffer.size()) break;
  }
  if (std::ferror(input)) {
    outcome.ok = false;
    outcome.readError = true;
    outcome.error = "cannot read the input";
    return outcome;
  }
  if (length > 0 && !finishLine()) outcome.ok = false;
  return outcome;
}

}  // namespace replay
