#include "sim/devices/eeprom_24c02.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

// A temporary name beside the image that nobody can guess: its folder may
// be one that other users write in, and no lock makes writers there take
// turns. Made with O_EXCL, so a name that is taken is never opened.
file_utilities::Descriptor make_temporary(int folder, const std::string& name,
                                          std::string& temporary) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char noise[6];
    if (::getrandom(noise, sizeof noise, 0) != static_cast<ssize_t>(sizeof noise)) break;
    temporary = name + '.';
    for (const unsigned char n : noise) temporary += kLetters[n % (sizeof kLetters - 1)];
    file_utilities::Descriptor out(::openat(folder, temporary.c_str(),
                                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                            0600));
    if (out.valid() || errno != EEXIST) return out;
  }
  return file_utilities::Descriptor();
}

// Writes `bytes` over the image at `path`: a new file, made in the folder
// that the trust walk opened (so every name is taken relative to what was
// checked), renamed over the old one. The new file keeps the old one's
// owner, group and mode, except that a privileged process sets no
// set-user-ID, set-group-ID or sticky bit on a file it makes; a read-only
// image is the owner's wish and is not replaced. Empty when saved,
// otherwise why not.
std::string save_image(const std::string& path, std::string_view bytes) {
  std::string why;
  const file_utilities::Descriptor folder(trust::open_named_folder(path, why));
  if (!folder.valid()) return why;
  const std::string name = file_utilities::name_of(path);
  if (name.empty()) return std::strerror(EISDIR);
  const bool privileged = trust::privileged();
  // The name itself, not what a link there points at: a link's target can
  // be any of root's files, whose mode (6777, say) a file root makes must
  // not take.
  struct stat old {};
  bool existed = ::fstatat(folder.get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (existed && S_ISLNK(old.st_mode)) {
    if (privileged) return "it is a symbolic link, which a privileged process does not follow";
    // An ordinary user's own link, whose file the image was read from.
    existed = ::fstatat(folder.get(), name.c_str(), &old, 0) == 0;
  }
  if (existed && !S_ISREG(old.st_mode)) return "not a regular file";
  if (existed && !file_utilities::mode_allows_writing(old)) return "it is read-only";

  std::string temporary;
  file_utilities::Descriptor out = make_temporary(folder.get(), name, temporary);
  if (!out.valid()) return std::strerror(errno);
  file_utilities::Replacement how{.folder = folder.get(), .temporary = temporary, .target = name};
  if (existed) {
    how.owner = {old.st_uid, old.st_gid};
    how.bits = old.st_mode & (privileged ? 0777 : 07777);
  } else {
    // A privileged process keeps a new image to itself.
    how.bits = privileged ? 0600 : 0644;
  }
  const int error = file_utilities::replace(how, std::move(out), bytes);
  return error == 0 ? std::string() : std::strerror(error);
}

}  // namespace

unsigned long long unsaved_pages() { return unsaved.load(std::memory_order_relaxed); }

void Eeprom24c02::save() {
  if (file_.empty()) return;
  if (!file_usable_) {
    unsaved.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const std::vector<std::uint8_t>& bytes = contents();
  const std::string why = save_image(
      file_, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (why.empty()) {
    save_failing_ = false;
    return;
  }
  unsaved.fetch_add(1, std::memory_order_relaxed);
  if (!save_failing_) {
    // Told once per run of failures, not once per page.
    save_failing_ = true;
    tell("EEPROM File \"" + file_ + "\": cannot save the contents (" + why +
         "); they live in memory only for now");
  }
}

}  // namespace sim
