// The PCF8584 I2C-bus controller's registers, with the data sheet's names:
// one map for everything that talks to the chip (the card adapter of the
// library) or plays it (the bench's card model).
//
//   S0 at base port     : data register; while the serial interface is off
//                         (ES0 = 0) the own-address register S0' (ES1 = 0)
//                         or the clock register S2 (ES1 = 1) sits behind it
//   S1 at base port + 1 : control register when written, status when read
#pragma once

#include <cstdint>

namespace pcf8584_registers {

// Offsets of the two registers from the card's base port.
inline constexpr unsigned kS0 = 0;
inline constexpr unsigned kS1 = 1;

// S1 written: the control register.
inline constexpr std::uint8_t PIN = 0x80;  // pending interrupt not: writing 1 resets the status
inline constexpr std::uint8_t ES0 = 0x40;  // serial interface on; S0 is the data register
inline constexpr std::uint8_t ES1 = 0x20;  // with ES0 off: S0 reaches the clock register S2
inline constexpr std::uint8_t ES2 = 0x10;  // with ES0 off: S0 reaches the vector register S3
inline constexpr std::uint8_t ENI = 0x08;  // interrupt output enabled
inline constexpr std::uint8_t STA = 0x04;  // make a START
inline constexpr std::uint8_t STO = 0x02;  // make a STOP
inline constexpr std::uint8_t ACK = 0x01;  // acknowledge the bytes received

// S1 read: the status register (while ES0 is on). Bit 7 is PIN again:
// 1 while a byte is pending, 0 once it has been sent or received.
inline constexpr std::uint8_t INI = 0x40;  // own address not yet loaded
inline constexpr std::uint8_t STS = 0x20;  // STOP seen while addressed as slave
inline constexpr std::uint8_t BER = 0x10;  // bus error: misplaced START or STOP seen
inline constexpr std::uint8_t LRB = 0x08;  // last received bit: 1 = not acknowledged
inline constexpr std::uint8_t AD0 = 0x08;  // addressed by general call (slave mode)
inline constexpr std::uint8_t AAS = 0x04;  // addressed as slave
inline constexpr std::uint8_t LAB = 0x02;  // lost arbitration
inline constexpr std::uint8_t BB = 0x01;   // bus busy, active low: 1 = bus free

// Commands written to S1.
inline constexpr std::uint8_t kInterfaceOff = 0x00;
inline constexpr std::uint8_t kSelectOwnAddress = PIN;       // interface off, S0 is S0'
inline constexpr std::uint8_t kSelectClock = PIN | ES1;      // interface off, S0 is S2
inline constexpr std::uint8_t kIdle = PIN | ES0 | ACK;       // interface on, nothing pending
inline constexpr std::uint8_t kEnableNoAck = ES0;            // interface on, NACK the next byte
inline constexpr std::uint8_t kStart = PIN | ES0 | STA | ACK;  // START, then send the byte in S0
// START without PIN: the address goes out when it is then written to S0.
inline constexpr std::uint8_t kRepeatedStart = ES0 | STA | ACK;
inline constexpr std::uint8_t kStopThenStart = ES0 | STA | STO | ACK;  // the chaining command
inline constexpr std::uint8_t kStop = PIN | ES0 | STO;

// S2, the clock register: five bits. S24 S23 S22 give the frequency of
// the controller's clock input, S21 S20 the bus clock made from it.
inline constexpr std::uint8_t kClockBits = 0x1F;
inline constexpr std::uint8_t S24 = 0x10;
inline constexpr std::uint8_t S23 = 0x08;
inline constexpr std::uint8_t S22 = 0x04;
inline constexpr std::uint8_t S21 = 0x02;
inline constexpr std::uint8_t S20 = 0x01;
inline constexpr std::uint8_t kClockInput12MHz = S24 | S23 | S22;  // 111
inline constexpr std::uint8_t kBus90kHz = 0x00;                    // S21 S20 = 00

}  // namespace pcf8584_registers
