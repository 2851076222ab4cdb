#include "sim/devices/eeprom_24c02.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/trust/trust.h"

namespace sim {

namespace {

constexpr std::uint8_t kErased = 0xFF;
constexpr std::uint8_t kPageMask = Eeprom24c02::kPage - 1;

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t done = ::write(fd, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

}  // namespace

Eeprom24c02::Eeprom24c02(std::uint8_t address, std::string file,
                         std::function<void(std::string_view)> warn,
                         const BenchClock* clock, std::uint32_t write_us)
    : address_(address),
      write_cycle_(clock, write_us),
      file_(std::move(file)),
      warn_(std::move(warn)) {
  memory_.fill(kErased);
  if (!file_.empty()) load();
}

void Eeprom24c02::tell(const std::string& text) const {
  if (warn_) warn_(text);
}

void Eeprom24c02::load() {
  const std::string leave_alone =
      "; the EEPROM starts erased and the file is left as it is";
  std::string why;
  int fd = trust::open_named_file(file_, O_RDONLY, 0, why);
  if (fd < 0) {
    if (errno == ENOENT) return;  // a new part: erased, saved on first write
    tell("EEPROM File \"" + file_ + "\": cannot read it (" + why + ")" + leave_alone);
    file_usable_ = false;
    return;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    tell("EEPROM File \"" + file_ + "\": not a regular file" + leave_alone);
    file_usable_ = false;
    ::close(fd);
    return;
  }
  if (info.st_size != static_cast<off_t>(kSize)) {
    tell("EEPROM File \"" + file_ + "\": holds " +
         std::to_string(info.st_size) + " bytes, a 24C02 holds " +
         std::to_string(kSize) + leave_alone);
    file_usable_ = false;
    ::close(fd);
    return;
  }
  std::array<std::uint8_t, kSize> image;
  std::size_t got = 0;
  while (got < kSize) {
    ssize_t done = ::read(fd, image.data() + got, kSize - got);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) break;
    got += static_cast<std::size_t>(done);
  }
  ::close(fd);
  if (got != kSize) {
    tell("EEPROM File \"" + file_ + "\": could not read all " +
         std::to_string(kSize) + " bytes" + leave_alone);
    file_usable_ = false;
    return;
  }
  memory_ = image;
}

void Eeprom24c02::save() {
  if (file_.empty() || !file_usable_) return;
  std::vector<char> temp(file_.begin(), file_.end());
  const char suffix[] = ".XXXXXX";
  temp.insert(temp.end(), suffix, suffix + sizeof suffix);
  int fd = ::mkstemp(temp.data());
  bool saved = false;
  int error = 0;
  if (fd < 0) {
    error = errno;
  } else {
    // The new file keeps the permissions of the one it replaces.
    struct stat info {};
    // A privileged process keeps a new image to itself.
    mode_t mode = trust::privileged() ? 0600 : 0644;
    if (::stat(file_.c_str(), &info) == 0) mode = info.st_mode & 07777;
    saved = ::fchmod(fd, mode) == 0 && write_all(fd, memory_.data(), kSize);
    if (!saved) error = errno;
    if (::close(fd) != 0 && saved) {
      saved = false;
      error = errno;
    }
    if (saved && ::rename(temp.data(), file_.c_str()) != 0) {
      saved = false;
      error = errno;
    }
    if (!saved) ::unlink(temp.data());
  }
  if (saved) {
    save_failing_ = false;
  } else if (!save_failing_) {
    // Told once per run of failures, not once per page.
    save_failing_ = true;
    tell("EEPROM File \"" + file_ + "\": cannot save the contents (" +
         std::strerror(error) + "); they live in memory only for now");
  }
}

void Eeprom24c02::on_start() {
  // A START before the STOP aborts a page write: nothing is programmed.
  latched_ = 0;
  state_ = State::idle;
}

void Eeprom24c02::on_selected(bool read) {
  state_ = read ? State::reading : State::word_address;
}

bool Eeprom24c02::on_write(std::uint8_t byte) {
  if (state_ == State::word_address) {
    pointer_ = byte;
    state_ = State::data;
    return true;
  }
  if (state_ == State::data) {
    // Only the low three pointer bits count on: a ninth byte lands on the
    // first one again.
    const unsigned slot = pointer_ & kPageMask;
    latch_[slot] = byte;
    latched_ = static_cast<std::uint8_t>(latched_ | (1u << slot));
    pointer_ = static_cast<std::uint8_t>((pointer_ & ~kPageMask) |
                                         ((pointer_ + 1) & kPageMask));
  }
  return true;
}

std::uint8_t Eeprom24c02::on_read() {
  return memory_[pointer_++];
}

void Eeprom24c02::on_stop() {
  if (latched_ != 0) {
    const unsigned page = pointer_ & ~static_cast<unsigned>(kPageMask);
    for (unsigned slot = 0; slot < kPage; ++slot) {
      if (latched_ & (1u << slot)) memory_[page | slot] = latch_[slot];
    }
    latched_ = 0;
    write_cycle_.begin();
    save();
  }
  state_ = State::idle;
}

}  // namespace sim
