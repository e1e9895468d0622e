// Arbitrary bytes into chain-replay's input reader: every input is either
// accepted or rejected with a reason; whatever is accepted is finite, in
// range, and survives printing and reading back unchanged.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "replay_input.hpp"

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "fuzz_replay_input: %s\n", what);
  std::abort();
}

void CheckSample(const replay::MouseSample& s) {
  for (float v : {s.X, s.Y})
    if (!std::isfinite(v) || std::fabs(v) > replay::kMaxCoordinate)
      Broken("accepted a number out of range");
  char line[64];
  std::snprintf(line, sizeof line, "%.9g %.9g", static_cast<double>(s.X), static_cast<double>(s.Y));
  const auto again = replay::ParseMouseLine(line);
  if (!again || again->X != s.X || again->Y != s.Y) Broken("a printed sample does not read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string why;
  if (const auto sample = replay::ParseMouseLine(text, &why))
    CheckSample(*sample);
  else if (why.empty())
    Broken("rejected a line without a reason");

  std::string copy(text);
  std::FILE* in = fmemopen(copy.data(), copy.size(), "r");
  if (!in) return 0;  // fmemopen refuses empty buffers on some libcs
  long lines = 0;
  const replay::ReadOutcome outcome = replay::ReadMousePath(in, [&](const replay::MouseSample& s) {
    CheckSample(s);
    ++lines;
  });
  std::fclose(in);
  if (!outcome.ok && outcome.error.empty()) Broken("a failed read gave no reason");
  if (outcome.ok && outcome.line != lines) Broken("lines read and samples taken disagree");
  return 0;
}
