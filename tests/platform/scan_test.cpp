// The "%d" and "%x" number scans used on configuration values and console
// arguments.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/format.h"
#include "platform/scan.h"

namespace {

struct Case {
  std::string_view text;
  std::optional<std::uint32_t> number;  // as the 32 bits come out
};

std::optional<std::uint32_t> bits(std::optional<std::int32_t> scanned) {
  if (!scanned) return std::nullopt;
  return static_cast<std::uint32_t>(*scanned);
}

std::string shown(std::optional<std::uint32_t> number) {
  return number ? std::to_string(*number) : "no number";
}

TEST(ScanDecimal, ReadsLikeTheCPercentDConversion) {
  const Case cases[] = {
      {"2", 2u},          {" 2", 2u},           {"\t\n\v\f\r 7", 7u},
      {"2x", 2u},         {"378", 378u},        {"-5", 0xFFFFFFFBu},
      {"+12", 12u},       {"-1", 0xFFFFFFFFu},  {"0x40", 0u},
      {"007", 7u},        {"", std::nullopt},   {"x", std::nullopt},
      {"-", std::nullopt}, {"+ 5", std::nullopt}, {"--5", std::nullopt},
      {"   ", std::nullopt}, {"1,2", 1u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shown(bits(scan::decimal(c.text))), shown(c.number)) << "text \"" << c.text << '"';
  }
}

TEST(ScanDecimal, LongNumbersKeepTheLowBitsOfTheNumberAsWritten) {
  EXPECT_EQ(static_cast<std::uint16_t>(*scan::decimal("65538")), 2u);
  EXPECT_EQ(static_cast<std::uint8_t>(*scan::decimal("256")), 0u);
  EXPECT_EQ(static_cast<std::uint8_t>(*scan::decimal("-1")), 255u);
  EXPECT_EQ(bits(scan::decimal("4294967297")), 1u);
  EXPECT_EQ(bits(scan::decimal("123456789012345678901234567890")), 0x4E3F0AD2u);
}

TEST(ScanHexadecimal, ReadsLikeTheCPercentXConversion) {
  const Case cases[] = {
      {"300", 0x300u},     {"378", 0x378u},         {"0x2F0", 0x2F0u},
      {"0X2f0", 0x2F0u},   {" 80", 0x80u},          {"\r\n37A", 0x37Au},
      {"2x", 2u},          {"fFg", 0xFFu},          {"-5", 0xFFFFFFFBu},
      {"-0x5", 0xFFFFFFFBu}, {"+0x1f", 0x1Fu},      {"0x", 0u},
      {"0xg", 0u},         {"0x-5", 0u},            {"", std::nullopt},
      {"x", std::nullopt}, {"x5", std::nullopt},    {"-", std::nullopt},
      {"+ 5", std::nullopt}, {"g", std::nullopt},   {"- 0x5", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shown(bits(scan::hexadecimal(c.text))), shown(c.number))
        << "text \"" << c.text << '"';
  }
}

TEST(ScanHexadecimal, LongNumbersKeepTheLowBitsOfTheNumberAsWritten) {
  EXPECT_EQ(bits(scan::hexadecimal("123456789")), 0x23456789u);
  EXPECT_EQ(static_cast<std::uint16_t>(*scan::hexadecimal("10378")), 0x0378u);
  EXPECT_EQ(static_cast<std::uint8_t>(*scan::hexadecimal("180")), 0x80u);
}

TEST(ScanWholeNumber, TakesOnlyTextThatIsOneNumberWithinItsBounds) {
  struct WholeCase {
    std::string_view text;
    scan::Whole rules;
    std::optional<std::uint32_t> number;
  };
  const WholeCase cases[] = {
      {" 378\t", {.base = 16}, 0x378u},       {"0x2F0", {.base = 16}, 0x2F0u},
      {"0X2f0", {.base = 16}, 0x2F0u},        {"0x", {.base = 16}, std::nullopt},
      {"2x", {.base = 16}, std::nullopt},     {"-5", {.base = 16}, std::nullopt},
      {"+5", {.base = 10}, std::nullopt},     {"", {.base = 10}, std::nullopt},
      {"   ", {.base = 10}, std::nullopt},    {"0x10", {.base = 10}, std::nullopt},
      {"FFFE", {.base = 16, .max = 0xFFFE}, 0xFFFEu},
      {"FFFF", {.base = 16, .max = 0xFFFE}, std::nullopt},
      {"2147483647", {.base = 10, .max = 0x7FFFFFFF}, 0x7FFFFFFFu},
      {"99999999999999999999", {.base = 10}, std::nullopt},  // never wraps
      {"0A", {.base = 16, .max = 0xFF, .max_digits = 2}, 0x0Au},
      {"0xA0", {.base = 16, .max = 0xFF, .max_digits = 2}, 0xA0u},
      {"0A0", {.base = 16, .max = 0xFF, .max_digits = 2}, std::nullopt},
  };
  for (const WholeCase& c : cases) {
    EXPECT_EQ(shown(scan::whole_number(c.text, c.rules)), shown(c.number))
        << "text \"" << c.text << "\" in base " << c.rules.base;
  }
}

TEST(FormatHexadecimal, WritesUpperCaseDigitsWithoutPrefixPaddedToTheWidth) {
  EXPECT_EQ(format::hexadecimal(0), "0");
  EXPECT_EQ(format::hexadecimal(0x2F0), "2F0");
  EXPECT_EQ(format::hexadecimal(0xFFFFFFFFu), "FFFFFFFF");
  EXPECT_EQ(format::hexadecimal(0x0A, 2), "0A");
  EXPECT_EQ(format::hexadecimal(0x378, 4), "0378");
  EXPECT_EQ(format::hexadecimal(0x12345, 4), "12345") << "a width never cuts digits off";
}

}  // namespace
