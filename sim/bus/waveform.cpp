#include "sim/bus/waveform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/trust/trust.h"

namespace sim {

namespace {

constexpr std::size_t kFlushAt = 1 << 16;

// How long before the first edge the starting levels stand, in us: enough
// for a viewer to show the idle bus before the first START.
constexpr std::uint64_t kLeadIn = 10;

// VCD identifier codes of the two wires.
constexpr char kSclCode = '!';
constexpr char kSdaCode = '"';
constexpr char kTimingCode = '%';

constexpr char kHeader[] =
    "$version Tarnwick bench bus $end\n"
    "$timescale 1 us $end\n"
    "$scope module bench $end\n"
    "$var wire 1 ! scl $end\n"
    "$var wire 1 \" sda $end\n";
constexpr char kTimingVar[] = "$var wire 1 % timing $end\n";
constexpr char kHeaderEnd[] =
    "$upscope $end\n"
    "$enddefinitions $end\n";

}  // namespace

std::unique_ptr<Waveform> Waveform::open(const std::string& path,
                                         std::string* error) {
  // What fopen(path, "wb") does, but through the rules for files that a
  // privileged process writes.
  std::string why;
  const int fd = trust::open_named_file(path, O_WRONLY | O_CREAT | O_TRUNC, 0666, why);
  std::FILE* file = fd < 0 ? nullptr : ::fdopen(fd, "wb");
  if (file == nullptr) {
    if (fd >= 0) {
      why = std::strerror(errno);
      ::close(fd);
    }
    if (error != nullptr) *error = "cannot write waveform file \"" + path + "\": " + why;
    return nullptr;
  }
  return std::unique_ptr<Waveform>(new Waveform(file, path));
}

Waveform::Waveform(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {
  buffer_.reserve(kFlushAt + 256);
}

Waveform::~Waveform() {
  if (begun_ && !finished_) finish(0);
  flush();
  // The close is the last chance to hear of a write that did not reach
  // the file.
  if (std::fclose(file_) != 0) fail();
}

void Waveform::fail() {
  const int error = errno;
  if (!healthy_) return;
  healthy_ = false;
  if (tell_) {
    tell_("cannot write waveform file \"" + path_ + "\": " + std::strerror(error) +
          "; the recording is incomplete");
  }
}

void Waveform::put(const char* text, std::size_t length) {
  buffer_.append(text, length);
  if (buffer_.size() >= kFlushAt) flush();
}

void Waveform::flush() {
  if (buffer_.empty()) return;
  if (healthy_ &&
      std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
    fail();
  }
  buffer_.clear();
}

void Waveform::begin(bool scl, bool sda) {
  if (begun_) return;
  begun_ = true;
  scl_ = scl;
  sda_ = sda;
  put(kHeader, sizeof kHeader - 1);
  if (timing_marker_) put(kTimingVar, sizeof kTimingVar - 1);
  put(kHeaderEnd, sizeof kHeaderEnd - 1);
}

void Waveform::dump_start(std::uint64_t stamp) {
  if (started_) return;
  started_ = true;
  last_stamp_ = stamp;
  char text[64];
  int length = std::snprintf(text, sizeof text,
                             timing_marker_ ? "#%llu\n$dumpvars\n%c%c\n%c%c\n"
                                            : "#%llu\n$dumpvars\n%c%c\n%c%c\n$end\n",
                             static_cast<unsigned long long>(stamp), scl_ ? '1' : '0',
                             kSclCode, sda_ ? '1' : '0', kSdaCode);
  put(text, static_cast<std::size_t>(length));
  if (timing_marker_) put("0%\n$end\n", 8);
}

void Waveform::change(std::uint64_t step, bool scl, bool sda) {
  if (!begun_ || finished_ || (scl == scl_ && sda == sda_)) return;
  std::uint64_t stamp = step;
  if (!started_) {
    // The first edge: stamps start at 1 so that the levels before it keep
    // a stamp of their own.
    if (stamp == 0) stamp = 1;
    dump_start(stamp > kLeadIn ? stamp - kLeadIn : 0);
  }
  if (stamp <= last_stamp_) stamp = last_stamp_ + 1;
  last_stamp_ = stamp;
  char text[64];
  int length = std::snprintf(text, sizeof text, "#%llu\n",
                             static_cast<unsigned long long>(stamp));
  if (scl != scl_) {
    text[length++] = scl ? '1' : '0';
    text[length++] = kSclCode;
    text[length++] = '\n';
  }
  if (sda != sda_) {
    text[length++] = sda ? '1' : '0';
    text[length++] = kSdaCode;
    text[length++] = '\n';
  }
  if (marked_) {
    text[length++] = '0';
    text[length++] = kTimingCode;
    text[length++] = '\n';
    marked_ = false;
  }
  scl_ = scl;
  sda_ = sda;
  put(text, static_cast<std::size_t>(length));
}

void Waveform::mark_timing() {
  if (!timing_marker_ || !started_ || finished_ || marked_) return;
  marked_ = true;
  char text[] = {'1', kTimingCode, '\n'};
  put(text, sizeof text);
}

void Waveform::finish(std::uint64_t step) {
  if (!begun_ || finished_) return;
  // A recording without an edge still shows the lines' levels.
  dump_start(0);
  finished_ = true;
  std::uint64_t stamp = step;
  if (stamp <= last_stamp_) stamp = last_stamp_ + 1;
  char text[32];
  int length = std::snprintf(text, sizeof text, "#%llu\n",
                             static_cast<unsigned long long>(stamp));
  put(text, static_cast<std::size_t>(length));
  flush();
  if (std::fflush(file_) != 0) fail();
}

}  // namespace sim
