// A VCD recording of the bench bus: two 1-bit wires, `scl` and `sda`,
// stamped in bench time, 1 us per unit; with the timing checker on, a third,
// `timing`, that goes to 1 at an edge that broke a minimum time and back to
// 0 at the next edge that broke none (a mark a viewer shows and a decoder
// leaves alone, where a $comment among the changes would stop sigrok's VCD
// reader; the text of each violation is in the trace).
//
// Every change event gets a timestamp of its own, later than the one before:
// several edges within one microsecond of bench time (a byte clocked at
// once) take the microseconds after it, so a protocol decoder sees each edge
// apart and time only ever runs forward; the stamps meet bench time again
// as soon as it has caught up. The file is written through a
// buffer and closed with a timestamp after the last change, because VCD
// readers drop the values of the final timestamp otherwise.
//
// The lines' starting levels are stamped a little before the first edge,
// not at time 0: a viewer opens a file at its first timestamp, so it opens
// on the first transaction instead of the milliseconds of idle bus before
// it (the bench's start-up and the host's own steps).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace sim {

class Waveform {
 public:
  // Creates (or truncates) the file. On failure gives null and puts the
  // reason, naming the file, into `error`.
  static std::unique_ptr<Waveform> open(const std::string& path,
                                        std::string* error);
  ~Waveform();
  Waveform(const Waveform&) = delete;
  Waveform& operator=(const Waveform&) = delete;

  // Adds the `timing` wire; before begin() only.
  void add_timing_marker() {
    if (!begun_) timing_marker_ = true;
  }
  // The header; the levels the lines start at.
  void begin(bool scl, bool sda);
  // The lines now stand at these levels; `step` is the bench time in us.
  void change(std::uint64_t step, bool scl, bool sda);
  // Marks the last change recorded as breaking a minimum time.
  void mark_timing();
  // The closing timestamp; nothing is recorded after it.
  void finish(std::uint64_t step);

  // False once a write to the file failed (disk full, for instance).
  bool healthy() const { return healthy_; }
  // Where the first failed write is told, one line naming the file and the
  // error: a recording cut short must not pass for a whole one.
  void on_failure(std::function<void(std::string_view)> tell) { tell_ = std::move(tell); }

 private:
  Waveform(std::FILE* file, std::string path);
  // Marks the recording broken by the error in errno; told the first time.
  void fail();
  void put(const char* text, std::size_t length);
  // The starting levels, once, at `stamp`.
  void dump_start(std::uint64_t stamp);
  void flush();

  std::FILE* file_;
  std::string buffer_;
  std::uint64_t last_stamp_ = 0;
  bool scl_ = true;
  bool sda_ = true;
  bool timing_marker_ = false;
  bool marked_ = false;  // `timing` stands at 1
  bool begun_ = false;
  bool started_ = false;
  bool finished_ = false;
  bool healthy_ = true;
  std::string path_;
  std::function<void(std::string_view)> tell_;
};

}  // namespace sim
