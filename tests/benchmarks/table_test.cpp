// The tables as the terminal and BENCHMARKS.md show them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "benchmarks/report.h"

namespace {

bench::Table sample() {
  bench::Table table;
  table.title = "Sample";
  table.header = {"adapter", "accesses", "goal"};
  table.rows = {{"PCF8584 card", "59", "at most 1.3"}, {"Philips adapter", "1 388", "0"}};
  table.notes = {"A note."};
  return table;
}

template <class Print>
std::string printed(Print&& print) {
  std::FILE* file = std::tmpfile();
  print(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

TEST(BenchTables, TextRightAlignsColumnsOfNumbersOnly) {
  const std::string text = printed([](std::FILE* out) { bench::print_text(out, sample()); });
  EXPECT_EQ(text,
            "Sample\n"
            "  adapter          accesses  goal\n"
            "  ---------------  --------  -----------\n"
            "  PCF8584 card           59  at most 1.3\n"
            "  Philips adapter     1 388  0\n"
            "  A note.\n"
            "\n");
}

TEST(BenchTables, MarkdownMarksColumnsOfNumbersRightAligned) {
  const std::string text = printed([](std::FILE* out) { bench::print_markdown(out, sample()); });
  EXPECT_EQ(text,
            "## Sample\n\n"
            "| adapter | accesses | goal |\n"
            "|---|---:|---|\n"
            "| PCF8584 card | 59 | at most 1.3 |\n"
            "| Philips adapter | 1 388 | 0 |\n"
            "\n"
            "A note.\n"
            "\n");
}

TEST(BenchTables, GroupsThousandsAndShowsFiguresThatCouldNotBeMade) {
  EXPECT_EQ(bench::grouped(483737241.4), "483 737 241");
  EXPECT_EQ(bench::grouped(999), "999");
  EXPECT_EQ(bench::grouped(-1234), "-1 234");
  EXPECT_EQ(bench::fixed(1.0 / 0.0, 2), "n/a");
  EXPECT_EQ(bench::fixed(1.16249, 3), "1.162");
}

}  // namespace
