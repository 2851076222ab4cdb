// The transfer interface's three exports. Arguments are checked here, as
// i2c-dev checks an I2C_RDWR call, before any port is touched; the bus slot
// of the adapter is held for the whole transaction, so a transfer and the
// ten classic exports exclude each other in every process. No exception
// leaves through the C interface.
#include "tarnwick/i2c.h"

#include <cerrno>
#include <climits>
#include <cstddef>

#include "library/frame/transfer_tables.h"
#include "library/state/library_state.h"

namespace {

constexpr std::uint16_t kLargestAddress = 0x7F;
constexpr std::uint16_t kKnownFlags = TARNWICK_M_RD | TARNWICK_M_TEN | TARNWICK_M_RECV_LEN |
                                      TARNWICK_M_NO_RD_ACK | TARNWICK_M_IGNORE_NAK |
                                      TARNWICK_M_REV_DIR_ADDR | TARNWICK_M_NOSTART |
                                      TARNWICK_M_STOP;
constexpr std::uint16_t kRefusedFlags = TARNWICK_M_TEN | TARNWICK_M_RECV_LEN |
                                        TARNWICK_M_NO_RD_ACK | TARNWICK_M_REV_DIR_ADDR |
                                        TARNWICK_M_STOP;
constexpr std::size_t kNoAdapter = frame::kAdapterCount;

// Interface numbers 1 to 3, or 0 for the selected adapter.
std::size_t adapter_for(int adapter) {
  if (adapter == 0) {
    const auto index = static_cast<std::size_t>(static_cast<std::uint16_t>(state::adapter_index));
    return index < frame::kAdapterCount ? index : 0;
  }
  if (adapter < 1 || adapter > static_cast<int>(frame::kAdapterCount)) return kNoAdapter;
  return static_cast<std::size_t>(adapter - 1);
}

std::int16_t check_message(const tarnwick_msg& msg, const tarnwick_msg* before) {
  if ((msg.flags & ~kKnownFlags) != 0) return -EINVAL;
  if ((msg.flags & kRefusedFlags) != 0) return -EOPNOTSUPP;
  if (msg.addr > kLargestAddress || msg.len > TARNWICK_MAX_LEN) return -EINVAL;
  if (msg.len > 0 && msg.buf == nullptr) return -EINVAL;
  const bool reading = (msg.flags & TARNWICK_M_RD) != 0;
  if (reading && msg.len == 0) return -EINVAL;
  if ((msg.flags & TARNWICK_M_NOSTART) != 0) {
    // Without an address the bus cannot change direction, and the first
    // message has nothing to continue.
    if (before == nullptr || ((before->flags & TARNWICK_M_RD) != 0) != reading) return -EINVAL;
  }
  return 0;
}

std::int16_t check_messages(const tarnwick_msg* msgs, int count) {
  if (msgs == nullptr || count < 1 || count > TARNWICK_MAX_MESSAGES) return -EINVAL;
  for (int i = 0; i < count; ++i) {
    const std::int16_t refused = check_message(msgs[i], i > 0 ? &msgs[i - 1] : nullptr);
    if (refused != 0) return refused;
  }
  return 0;
}

// The adapter's bus slot for one transaction.
class SlotHold {
 public:
  explicit SlotHold(int slot) : slot_(slot), held_(state::take_slot(slot)) {}
  ~SlotHold() {
    if (held_) state::give_slot(slot_);
  }
  SlotHold(const SlotHold&) = delete;
  SlotHold& operator=(const SlotHold&) = delete;
  bool held() const { return held_; }

 private:
  int slot_;
  bool held_;
};

}  // namespace

extern "C" {

int tarnwick_transfer(int adapter, struct tarnwick_msg* msgs, int count) {
  try {
    const std::size_t index = adapter_for(adapter);
    if (index == kNoAdapter) return -EINVAL;
    if (const std::int16_t refused = check_messages(msgs, count); refused != 0) return refused;
    const SlotHold hold(frame::transfer_slots[index]);
    if (!hold.held()) return -EBUSY;
    return frame::transfer_operations[index](msgs, static_cast<std::int16_t>(count));
  } catch (...) {
    return -EIO;
  }
}

long tarnwick_bus_speed(int adapter, long hz) {
  try {
    const std::size_t index = adapter_for(adapter);
    if (index == kNoAdapter || hz < 0) return -EINVAL;
    const auto asked = static_cast<std::int32_t>(hz > INT32_MAX ? INT32_MAX : hz);
    return frame::speed_operations[index](asked);
  } catch (...) {
    return -EIO;
  }
}

int tarnwick_recover(int adapter) {
  try {
    const std::size_t index = adapter_for(adapter);
    if (index == kNoAdapter) return -EINVAL;
    const SlotHold hold(frame::transfer_slots[index]);
    if (!hold.held()) return -EBUSY;
    return frame::recover_operations[index]();
  } catch (...) {
    return -EIO;
  }
}

}  // extern "C"
