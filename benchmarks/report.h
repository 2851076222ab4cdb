// What a benchmark run prints: tables for people (plain text on the
// terminal, Markdown in BENCHMARKS.md) and one JSON object for programs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace bench {

struct Table {
  std::string title;
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> notes;  // printed under the table
};

// Columns padded to their widest cell; numbers are right-aligned.
void print_text(std::FILE* out, const Table& table);
void print_markdown(std::FILE* out, const Table& table);

// A JSON value; objects keep their keys in the order they were set.
class Json {
 public:
  Json() : value_(nullptr) {}
  Json(double number) : value_(number) {}
  Json(int number) : value_(static_cast<std::int64_t>(number)) {}
  Json(std::int64_t number) : value_(number) {}
  Json(std::uint64_t number) : value_(static_cast<std::int64_t>(number)) {}
  Json(bool flag) : value_(flag) {}
  Json(const char* text) : value_(std::string(text)) {}
  Json(std::string text) : value_(std::move(text)) {}

  static Json object();
  static Json array();

  // On an object: sets `key` (replacing an earlier value). Gives *this.
  Json& set(const std::string& key, Json value);
  // On objects: sets every key of `other` here, in its order.
  Json& merge(const Json& other);
  // On an array: appends. Gives *this.
  Json& push(Json value);

  std::string dump(int indent = 0) const;

 private:
  struct Members;
  struct Elements;
  using Value = std::variant<std::nullptr_t, double, std::int64_t, bool, std::string,
                             std::shared_ptr<Members>, std::shared_ptr<Elements>>;
  void dump_to(std::string& out, int indent, int depth) const;
  Value value_;
};

// A number in a fixed number of decimals ("1.23"), or with thousands
// separated ("52 300 000") for counts.
std::string fixed(double value, int decimals);
std::string grouped(double value);

}  // namespace bench
