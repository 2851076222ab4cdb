// The parallel port's three registers and the passive adapter behind them.
// The adapter is two open-collector drivers and two receivers:
//   data bit 7 (pin 9) set     -> transistor pulls SDA low
//   control bit 3 (pin 17) set -> SCL released (the pin is inverted by the
//                                 port, so the bit reads as "line high")
//   status bit 7 (pin 11)      <- SDA level
//   status bit 3 (pin 15)      <- SCL level
//   status bits 4 to 6         <- the adapter's presence and power sense
#include "sim/bench/parport_model.h"

#include "sim/bus/i2c_bus.h"

namespace sim {

namespace {

constexpr std::uint8_t kDataSdaLow = 0x80;
constexpr std::uint8_t kControlSclRelease = 0x08;
constexpr std::uint8_t kStatusSda = 0x80;
constexpr std::uint8_t kStatusScl = 0x08;
constexpr std::uint8_t kStatusAdapterSense = 0x70;

}  // namespace

ParportModel::ParportModel(Bus& bus, std::uint8_t adapter_status,
                           bool sda_stuck)
    : bus_(bus),
      line_master_(bus.add_line_master()),
      adapter_status_(adapter_status & kStatusAdapterSense) {
  if (sda_stuck) bus_.hold_sda_low(true);
  drive_lines();
}

std::uint8_t ParportModel::read(unsigned reg) {
  switch (reg) {
    case kDataReg:
      return data_;
    case kStatusReg: {
      std::uint8_t status = adapter_status_;
      if (bus_.sda()) status |= kStatusSda;
      if (bus_.scl()) status |= kStatusScl;
      return status;
    }
    case kControlReg:
      return control_;
    default:
      return 0xFF;
  }
}

void ParportModel::write(unsigned reg, std::uint8_t value) {
  switch (reg) {
    case kDataReg:
      data_ = value;
      break;
    case kControlReg:
      control_ = value;
      break;
    default:
      return;  // the status register has no latch behind it
  }
  drive_lines();
}

void ParportModel::drive_lines() {
  const bool sda_released = (data_ & kDataSdaLow) == 0;
  const bool scl_released = (control_ & kControlSclRelease) != 0;
  bus_.drive(line_master_, sda_released, scl_released);
}

}  // namespace sim
