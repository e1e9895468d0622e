// Reading a mouse path for chain-replay: one frame per line, "X Y".
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "chain/chain.hpp"

namespace replay {

/// The mouse position for one frame, pixels.
struct MouseSample {
  float X = 0.0f;
  float Y = 0.0f;
};

/// Largest magnitude accepted for a coordinate.
inline constexpr float kMaxCoordinate = chain::kMaxCoordinate;
/// Longest line accepted, in bytes without the line break.
inline constexpr std::size_t kMaxLineLength = 256;

/// Parses one line: exactly two finite decimal numbers within
/// +-kMaxCoordinate, separated and optionally surrounded by spaces or tabs
/// (a trailing carriage return is allowed). On failure returns nothing and,
/// when `why` is given, stores a short reason there.
std::optional<MouseSample> ParseMouseLine(std::string_view line, std::string* why = nullptr);

/// Outcome of reading a whole path.
struct ReadOutcome {
  bool ok = true;
  bool readError = false;  ///< the stream failed, as opposed to a bad line
  long line = 0;           ///< lines read, or the line that failed
  std::string error;       ///< why it failed, when !ok
};

/// Reads `input` line by line, handing each parsed sample to `onSample` in
/// order; stops at the first bad line. A final line without a line break
/// counts as a line.
ReadOutcome ReadMousePath(std::FILE* input,
                          const std::function<void(const MouseSample&)>& onSample);

}  // namespace replay
