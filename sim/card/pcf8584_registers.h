// Bit names of the PCF8584's S1 register, as the controller's data sheet
// gives them, and the composite commands a host writes to it.
#pragma once

#include <cstdint>

namespace sim::pcf8584 {

// S1 written: the control register.
inline constexpr std::uint8_t kPin = 0x80;  // pending interrupt not; 1 = reset status
inline constexpr std::uint8_t kEs0 = 0x40;  // serial interface enabled; S0 is data
inline constexpr std::uint8_t kEs1 = 0x20;  // with ES0 off: S0 reaches S2
inline constexpr std::uint8_t kEs2 = 0x10;  // with ES0 off: S0 reaches S3
inline constexpr std::uint8_t kEni = 0x08;  // interrupt output enabled
inline constexpr std::uint8_t kSta = 0x04;  // make a START
inline constexpr std::uint8_t kSto = 0x02;  // make a STOP
inline constexpr std::uint8_t kAck = 0x01;  // acknowledge the bytes received

// S1 read: the status register (while ES0 is on).
inline constexpr std::uint8_t kStatusPin = 0x80;  // 1 while a byte is pending
inline constexpr std::uint8_t kIni = 0x40;        // own address not yet loaded
inline constexpr std::uint8_t kSts = 0x20;        // STOP seen while addressed as slave
inline constexpr std::uint8_t kBer = 0x10;        // bus error: misplaced START or STOP
inline constexpr std::uint8_t kLrb = 0x08;        // last received (acknowledge) bit
inline constexpr std::uint8_t kAd0 = 0x08;        // addressed by general call (slave)
inline constexpr std::uint8_t kAas = 0x04;        // addressed as slave
inline constexpr std::uint8_t kLab = 0x02;        // lost arbitration
inline constexpr std::uint8_t kBb = 0x01;         // bus busy, active low: 1 = free

// Composite commands.
inline constexpr std::uint8_t kCmdOff = 0x00;                       // interface off
inline constexpr std::uint8_t kCmdSelectOwn = kPin;                 // off, S0 -> S0'
inline constexpr std::uint8_t kCmdSelectClock = kPin | kEs1;        // off, S0 -> S2
inline constexpr std::uint8_t kCmdIdle = kPin | kEs0 | kAck;        // on, idle, ACK
inline constexpr std::uint8_t kCmdNoAck = kEs0;                     // on, ACK off
inline constexpr std::uint8_t kCmdStart = kPin | kEs0 | kSta | kAck;  // START + S0
inline constexpr std::uint8_t kCmdRepStart = kEs0 | kSta | kAck;    // repeated START
inline constexpr std::uint8_t kCmdChain = kEs0 | kSta | kSto | kAck;  // STOP, START
inline constexpr std::uint8_t kCmdStop = kPin | kEs0 | kSto;        // STOP

// The register behind the base port and the one behind base port + 1.
inline constexpr unsigned kRegS0 = 0;
inline constexpr unsigned kRegS1 = 1;

}  // namespace sim::pcf8584
