// The port trace: one line per port access, "R 0301 80" or "W 0300 C0",
// appended to a file in the order the accesses happen, with the simulated
// bus's protocol-violation lines ("! ...") right after the access that
// caused them. Lines collect in a buffer and reach the file when it fills,
// on flush() and when the log is destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace portio {

class TraceLog {
 public:
  // Opens `path` for appending (creating it); on failure returns null and
  // says why in `error`.
  static std::unique_ptr<TraceLog> open(const std::string& path,
                                        std::string& error);
  ~TraceLog();
  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

  void access(char kind, std::uint16_t port, std::uint8_t value) {
    if (used_ + kAccessLineSize > kBufferSize) flush();
    char* line = buffer_ + used_;
    line[0] = kind;
    line[1] = ' ';
    line[2] = kHexDigits[(port >> 12) & 0xF];
    line[3] = kHexDigits[(port >> 8) & 0xF];
    line[4] = kHexDigits[(port >> 4) & 0xF];
    line[5] = kHexDigits[port & 0xF];
    line[6] = ' ';
    line[7] = kHexDigits[value >> 4];
    line[8] = kHexDigits[value & 0xF];
    line[9] = '\n';
    used_ += kAccessLineSize;
    if (!pending_.empty()) [[unlikely]] append_pending();
  }

  // A protocol-violation line; it is written after the line of the access
  // that is being made.
  void violation(std::string_view line);

  // Writes out every buffered line.
  void flush();

 private:
  static constexpr std::size_t kBufferSize = 64 * 1024;
  static constexpr std::size_t kAccessLineSize = 10;
  static constexpr char kHexDigits[] = "0123456789ABCDEF";

  TraceLog(int fd, std::string path);
  void append(std::string_view text);
  void append_pending();

  int fd_;
  std::string path_;
  bool write_failed_ = false;
  std::size_t used_ = 0;
  std::string pending_;
  char buffer_[kBufferSize];
};

}  // namespace portio
