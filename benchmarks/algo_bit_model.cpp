// The bit routines of i2c-algo-bit, with the line and delay calls counted
// where the kernel makes them (sclhi waits for SCL with getscl, then
// delays udelay; scllo delays udelay / 2; sdahi and sdalo (udelay + 1) / 2).
#include "benchmarks/algo_bit_model.h"

#include <algorithm>

namespace bench::algo_bit {
namespace {

class Model {
 public:
  explicit Model(int udelay) : udelay_(udelay) {}

  void setsda() { ++count_.line_accesses; }
  void setscl() { ++count_.line_accesses; }
  void getsda() { ++count_.line_accesses; }
  void getscl() { ++count_.line_accesses; }
  void udelay(int us) { count_.delay_us += static_cast<std::uint64_t>(us); }

  void sdalo() {
    setsda();
    udelay((udelay_ + 1) / 2);
  }
  void sdahi() {
    setsda();
    udelay((udelay_ + 1) / 2);
  }
  void scllo() {
    setscl();
    udelay(udelay_ / 2);
  }
  // The clock released and read back until high (at once here).
  void sclhi() {
    setscl();
    getscl();
    udelay(udelay_);
  }

  void start() {
    setsda();  // SDA low while SCL is high
    udelay(udelay_);
    scllo();
  }
  void stop() {
    sdalo();
    sclhi();
    setsda();
    udelay(udelay_);
  }
  void outb() {
    for (int bit = 7; bit >= 0; --bit) {
      setsda();
      udelay((udelay_ + 1) / 2);
      sclhi();
      scllo();
    }
    sdahi();
    sclhi();
    getsda();  // the acknowledge
    scllo();
  }
  Count count() const { return count_; }

 private:
  int udelay_;
  Count count_;
};

}  // namespace

int udelay_for(long hz) { return std::max(1, static_cast<int>(500000 / std::max(1L, hz))); }

Count write_transaction(int udelay, int data_bytes) {
  Model bus(udelay);
  bus.start();
  bus.outb();  // address
  for (int i = 0; i < data_bytes; ++i) bus.outb();
  bus.stop();
  return bus.count();
}

}  // namespace bench::algo_bit
