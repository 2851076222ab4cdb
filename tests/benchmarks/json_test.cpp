#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "benchmarks/report.h"

namespace {

using bench::Json;

TEST(BenchJson, KeepsKeysInOrderAndReplacesAKeySetTwice) {
  Json json = Json::object();
  json.set("b", 1).set("a", 2).set("b", 3);
  EXPECT_EQ(json.dump(), R"({"b":3,"a":2})");
}

TEST(BenchJson, EscapesTextAndWritesNumbersJsonCanRead) {
  Json json = Json::object();
  json.set("text", "say \"hi\"\\\n\x01")
      .set("count", std::uint64_t{52300000000})
      .set("ratio", 1.25)
      .set("rate", 483737241.4)
      .set("none", std::nan(""))
      .set("flag", false)
      .set("list", Json::array().push(1).push(Json::object()));
  EXPECT_EQ(json.dump(), R"({"text":"say \"hi\"\\\n\u0001","count":52300000000,"ratio":1.25,)"
                         R"("rate":483737241,"none":null,"flag":false,"list":[1,{}]})");
}

TEST(BenchJson, MergesTheMembersOfAnotherObject) {
  Json json = Json::object();
  json.set("a", 1).merge(Json::object().set("b", 2).set("a", 3));
  EXPECT_EQ(json.dump(), R"({"a":3,"b":2})");
}

TEST(BenchJson, IndentsNestedValues) {
  Json json = Json::object();
  json.set("a", Json::array().push(1));
  EXPECT_EQ(json.dump(2), "{\n  \"a\": [\n    1\n  ]\n}");
}

}  // namespace
