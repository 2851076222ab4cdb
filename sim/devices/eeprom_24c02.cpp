#include "sim/devices/eeprom_24c02.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/file_utilities.h"
#include "platform/trust/trust.h"

namespace sim {

Eeprom24c02::Eeprom24c02(std::uint8_t address, std::string file,
                         std::function<void(std::string_view)> warn,
                         const BenchClock* clock, std::uint32_t write_us)
    : EepromFace(std::make_shared<EepromChip>(kPart, clock, write_us), address, 0),
      file_(std::move(file)),
      warn_(std::move(warn)) {
  if (!file_.empty()) load();
}

void Eeprom24c02::tell(const std::string& text) const {
  if (warn_) warn_(text);
}

void Eeprom24c02::load() {
  const std::string leave_alone =
      "; the EEPROM starts erased and the file is left as it is";
  std::string why;
  file_utilities::Descriptor fd(trust::open_named_file(file_, O_RDONLY, 0, why));
  if (!fd.valid()) {
    if (errno == ENOENT) return;  // a new part: erased, saved on first write
    tell("EEPROM File \"" + file_ + "\": cannot read it (" + why + ")" + leave_alone);
    file_usable_ = false;
    return;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    tell("EEPROM File \"" + file_ + "\": not a regular file" + leave_alone);
    file_usable_ = false;
    return;
  }
  if (info.st_size != static_cast<off_t>(kPart.size)) {
    tell("EEPROM File \"" + file_ + "\": holds " +
         std::to_string(info.st_size) + " bytes, a 24C02 holds " +
         std::to_string(kPart.size) + leave_alone);
    file_usable_ = false;
    return;
  }
  std::vector<std::uint8_t> image(kPart.size);
  std::size_t got = 0;
  while (got < image.size()) {
    ssize_t done = ::read(fd.get(), image.data() + got, image.size() - got);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) break;
    got += static_cast<std::size_t>(done);
  }
  if (got != image.size()) {
    tell("EEPROM File \"" + file_ + "\": could not read all " +
         std::to_string(kPart.size) + " bytes" + leave_alone);
    file_usable_ = false;
    return;
  }
  mutable_chip().set_contents(image);
}

namespace {
std::atomic<unsigned long long> unsaved{0};
}  // namespace

unsigned long long unsaved_pages() { return unsaved.load(std::memory_order_relaxed); }

void Eeprom24c02::save() {
  if (file_.empty()) return;
  if (!file_usable_) {
    unsaved.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  // A name nobody can guess, beside the file: its folder may be one that
  // other users write in, and no lock makes writers there take turns.
  std::string temporary = file_ + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  int error = fd < 0 ? errno : 0;
  if (fd >= 0) {
    // The new file keeps the permissions of the one it replaces; a
    // privileged process keeps a new image to itself.
    struct stat info {};
    mode_t mode = trust::privileged() ? 0600 : 0644;
    if (::stat(file_.c_str(), &info) == 0) mode = info.st_mode & 07777;
    const std::vector<std::uint8_t>& bytes = contents();
    error = file_utilities::replace(
        {.folder = AT_FDCWD, .temporary = temporary, .target = file_, .bits = mode},
        file_utilities::Descriptor(fd),
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  if (error == 0) {
    save_failing_ = false;
    return;
  }
  unsaved.fetch_add(1, std::memory_order_relaxed);
  if (!save_failing_) {
    // Told once per run of failures, not once per page.
    save_failing_ = true;
    tell("EEPROM File \"" + file_ + "\": cannot save the contents (" +
         std::strerror(error) + "); they live in memory only for now");
  }
}

}  // namespace sim
