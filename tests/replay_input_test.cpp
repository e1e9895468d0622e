#include "replay_input.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using replay::ParseMouseLine;

TEST(ParseMouseLine, AcceptsTwoDecimalNumbersWithAnySpacing) {
  const struct {
    const char* line;
    float x, y;
  } good[] = {
      {"1 2", 1.0f, 2.0f},
      {"  -3.5\t+4e2  ", -3.5f, 400.0f},
      {"0.1 0.2\r", 0.1f, 0.2f},
      {"1e9 -1e9", 1e9f, -1e9f},
      {"-0 .5", -0.0f, 0.5f},
      // Below a float's range: the nearest float, subnormal or zero.
      {"1e-46 -1e-50", 0.0f, -0.0f},
      {"1.4e-45 -1e-39", 1.4e-45f, -1e-39f},
  };
  for (const auto& g : good) {
    const auto sample = ParseMouseLine(g.line);
    ASSERT_TRUE(sample) << g.line;
    EXPECT_EQ(sample->X, g.x) << g.line;
    EXPECT_EQ(sample->Y, g.y) << g.line;
    EXPECT_EQ(std::signbit(sample->Y), std::signbit(g.y)) << g.line;
  }
}

TEST(ParseMouseLine, RoundsEachNumberOnceToTheNearestFloat) {
  // 16777217 lies halfway between two floats; rounding through double first
  // would still give 16777216, so use a value where that differs:
  // 1.00000005960464477539062500000001 rounds up as a float.
  const auto sample = ParseMouseLine("1.00000005960464477539062500000001 0");
  ASSERT_TRUE(sample);
  EXPECT_EQ(sample->X, 1.00000011920928955078125f);
}

TEST(ParseMouseLine, RejectsAnythingButTwoFiniteNumbersInRange) {
  const char* bad[] = {"",      "1",      "1 2 3",  "1,2",         "x 2",    "1 2x",
                       "nan 1", "1 inf",  "1e10 0", "0 -1.0001e9", "1e39 0", "++1 2",
                       "+-1 2", "0x10 2", "1 \v2",  "1\0 2"};
  for (const char* line : bad) {
    std::string why;
    EXPECT_FALSE(ParseMouseLine(line, &why)) << "'" << line << "'";
    EXPECT_FALSE(why.empty()) << "'" << line << "'";
  }
  EXPECT_FALSE(ParseMouseLine(std::string_view("1\0 2", 4)));
}

std::vector<replay::MouseSample> ReadAll(const std::string& text, replay::ReadOutcome* outcome) {
  std::FILE* in = std::tmpfile();  // binary, on every system
  std::fwrite(text.data(), 1, text.size(), in);
  std::rewind(in);
  std::vector<replay::MouseSample> samples;
  *outcome = replay::ReadMousePath(in, [&](const replay::MouseSample& s) { samples.push_back(s); });
  std::fclose(in);
  return samples;
}

TEST(ReadMousePath, CountsLinesAndStopsAtTheFirstBadOne) {
  replay::ReadOutcome outcome;
  EXPECT_EQ(ReadAll("1 2\n3 4", &outcome).size(), 2u);  // last line without a break
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.line, 2);

  EXPECT_EQ(ReadAll("1 2\n\n3 4\n", &outcome).size(), 1u);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.line, 2);
}

TEST(ReadMousePath, LineLengthLimitIsExact) {
  const auto lineOf = [](std::size_t length) {
    return "1 " + std::string(length - 3, '0') + "2";  // "1 000…02", a valid line
  };
  replay::ReadOutcome outcome;
  ReadAll(lineOf(replay::kMaxLineLength) + "\r\n", &outcome);
  EXPECT_TRUE(outcome.ok) << outcome.error;
  ReadAll(lineOf(replay::kMaxLineLength + 1) + "\n", &outcome);
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.error.find("longer"), std::string::npos);
  ReadAll(lineOf(100000), &outcome);
  EXPECT_FALSE(outcome.ok);
}

}  // namespace
