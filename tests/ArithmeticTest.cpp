// The integer text rule, checked arithmetic, extended rounding and the full-stop rule.
#include <fpu_control.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "core/Checked.h"
#include "core/Extended.h"
#include "core/IntegerText.h"

namespace swelox {
namespace {

struct ParseCase {
  const char* text;
  std::optional<int32_t> value;  // nullopt: not a valid integer
};

class ParseIntegerTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseIntegerTest, FollowsTheTextRule) {
  const ParseCase& c = GetParam();
  if (c.value) {
    EXPECT_EQ(ParseInteger(c.text), *c.value) << "'" << c.text << "'";
  } else {
    try {
      ParseInteger(c.text);
      FAIL() << "'" << c.text << "' was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()),
                "'" + std::string(c.text) + "' is not a valid integer value");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseIntegerTest,
    testing::Values(
        ParseCase{"15", 15}, ParseCase{"0", 0}, ParseCase{"007", 7}, ParseCase{"   42", 42},
        ParseCase{"+5", 5}, ParseCase{"-5", -5}, ParseCase{"  -12", -12},
        ParseCase{"2147483647", INT32_MAX}, ParseCase{"-2147483648", INT32_MIN},
        ParseCase{"2147483648", std::nullopt}, ParseCase{"-2147483649", std::nullopt},
        ParseCase{"99999999999999999999", std::nullopt}, ParseCase{"$10", 16}, ParseCase{"x1f", 31},
        ParseCase{"X1F", 31}, ParseCase{"0x10", 16}, ParseCase{"0XaB", 171},
        ParseCase{"$FFFFFFFF", -1}, ParseCase{"-$FFFFFFFF", 1}, ParseCase{"$80000000", INT32_MIN},
        ParseCase{"-$80000000", INT32_MIN}, ParseCase{"$7FFFFFFF", INT32_MAX},
        ParseCase{"$000000001", 1}, ParseCase{"$100000000", std::nullopt}, ParseCase{" +$ff", 255},
        ParseCase{"", std::nullopt}, ParseCase{" ", std::nullopt}, ParseCase{"\t5", std::nullopt},
        ParseCase{"5 ", std::nullopt}, ParseCase{"1.5", std::nullopt},
        ParseCase{"abc", std::nullopt}, ParseCase{"-", std::nullopt}, ParseCase{"+", std::nullopt},
        ParseCase{"$", std::nullopt}, ParseCase{"0x", std::nullopt}, ParseCase{"$G", std::nullopt},
        ParseCase{"12a", std::nullopt}, ParseCase{"--1", std::nullopt},
        ParseCase{"- 1", std::nullopt}, ParseCase{"1e3", std::nullopt}));

TEST(FormatInteger, PlainDecimalWithMinus) {
  EXPECT_EQ(FormatInteger(0), "0");
  EXPECT_EQ(FormatInteger(-17), "-17");
  EXPECT_EQ(FormatInteger(4294967296), "4294967296");
  EXPECT_EQ(FormatInteger(INT64_MIN), "-9223372036854775808");
}

TEST(CheckedArithmetic, RaisesTheProgramsMessages) {
  auto message = [](auto f) -> std::string {
    try {
      f();
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(message([] { checked::Add(INT32_MAX, 1); }), "Integer overflow");
  EXPECT_EQ(message([] { checked::Sub(INT32_MIN, 1); }), "Integer overflow");
  EXPECT_EQ(message([] { checked::Mul(65536, 32768); }), "Integer overflow");
  EXPECT_EQ(message([] { checked::Div(5, 0); }), "Division by zero");
  EXPECT_EQ(message([] { checked::Div(INT32_MIN, -1); }), "Integer overflow");
  EXPECT_EQ(message([] { checked::Narrow(int64_t{INT32_MAX} + 1); }), "Range check error");
  EXPECT_EQ(message([] { RoundToInt32(2147483647.5L); }), "Range check error");
  EXPECT_EQ(checked::Mul(46340, 46340), 2147395600);
  EXPECT_EQ(checked::Div(-7, 2), -3);
}

TEST(ExtendedRounding, TiesGoToEven) {
  const std::pair<long double, int32_t> cases[] = {{0.5L, 0},
                                                   {1.5L, 2},
                                                   {2.5L, 2},
                                                   {-0.5L, 0},
                                                   {-1.5L, -2},
                                                   {2.4999999L, 2},
                                                   {-2147483648.4L, INT32_MIN},
                                                   {-2147483648.5L, INT32_MIN},
                                                   {2147483647.4999999L, INT32_MAX},
                                                   {2147483646.5L, 2147483646}};
  for (auto [v, expected] : cases) EXPECT_EQ(RoundToInt32(v), expected) << static_cast<double>(v);
  // Just past either end, and what is no number, is out of range.
  for (long double v : {-2147483648.5000001L, 2147483647.5L, std::nanl("")}) {
    EXPECT_THROW(RoundToInt32(v), Error) << static_cast<double>(v);
  }
}

TEST(ExtendedPrecision, SurvivesAChangedControlWord) {
  // A library may leave the x87 unit in double precision; the analysis puts it back.
  fpu_control_t saved;
  _FPU_GETCW(saved);
  fpu_control_t dbl = (saved & ~_FPU_EXTENDED) | _FPU_DOUBLE;
  _FPU_SETCW(dbl);
  UseExtendedPrecision();
  volatile long double one = 1.0L;
  const long double third = one / 3.0L;
  EXPECT_NE(static_cast<long double>(static_cast<double>(third)), third);
  _FPU_SETCW(saved);
}

TEST(FullStopRule, AddsAStopAfterLettersDigitsAndSomeSigns) {
  const std::pair<const char*, const char*> cases[] = {
      {"Integer overflow", "Integer overflow."},
      {"JPEG error #53", "JPEG error #53."},
      {"done.", "done."},
      {"(x)", "(x)"},
      {"wow!", "wow!"},
      {"a-", "a-"},
      {"a,", "a,"},
      {"'a'", "'a'"},
      {"a ", "a "},
      {"why?", "why?."},
      {"list:", "list:."},
      {"", ""},
      {"Cannot open file \"/x\". No such file", "Cannot open file \"/x\". No such file."}};
  for (auto [in, out] : cases) EXPECT_EQ(WithFullStop(in), out) << in;
}

}  // namespace
}  // namespace swelox
