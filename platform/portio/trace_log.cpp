#include "platform/portio/trace_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_utilities.h"
#include "platform/stderr_line.h"
#include "platform/trust/trust.h"

namespace portio {

std::unique_ptr<TraceLog> TraceLog::open(const std::string& path,
                                         std::string& error) {
  const int fd = trust::open_named_file(path, O_WRONLY | O_CREAT | O_APPEND, 0644, error);
  if (fd < 0) return nullptr;
  return std::unique_ptr<TraceLog>(new TraceLog(fd, path));
}

TraceLog::TraceLog(int fd, std::string path)
    : fd_(fd), path_(std::move(path)) {}

TraceLog::~TraceLog() {
  if (!pending_.empty()) append_pending();
  flush();
  ::close(fd_);
}

void TraceLog::violation(std::string_view line) {
  pending_.append(line);
  if (pending_.empty() || pending_.back() != '\n') pending_.push_back('\n');
}

void TraceLog::append_pending() {
  std::string lines;
  lines.swap(pending_);
  append(lines);
}

void TraceLog::append(std::string_view text) {
  while (!text.empty()) {
    if (used_ == kBufferSize) flush();
    const std::size_t room = kBufferSize - used_;
    const std::size_t part = text.size() < room ? text.size() : room;
    std::memcpy(buffer_ + used_, text.data(), part);
    used_ += part;
    text.remove_prefix(part);
  }
}

void TraceLog::flush() {
  if (!write_failed_ && !file_utilities::write_all(fd_, std::string_view(buffer_, used_))) {
    // Keep running the bus; the trace is what is lost, and the user is
    // told so once.
    write_failed_ = true;
    stderr_line("cannot write the port trace " + path_ + " (" +
                std::strerror(errno) + "); later accesses are not traced");
  }
  used_ = 0;
}

}  // namespace portio
