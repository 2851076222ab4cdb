// i2ctransfer's message words: DESC "{r|w}LENGTH[@address]", then for a
// write LENGTH data bytes, the last of which may stand for the rest by a
// suffix: '=' the same, '+' counting up, '-' counting down, 'p' an 8-bit
// pseudo-random run seeded by it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tarnwick/i2c.h"

namespace transfer_messages {

struct Message {
  std::uint16_t address;
  std::uint16_t flags;  // TARNWICK_M_RD, TARNWICK_M_RECV_LEN for "r?"
  std::vector<std::uint8_t> data;  // LENGTH bytes: written, or read into
};

struct Parsed {
  std::vector<Message> messages;
  // Empty, or i2ctransfer's "Error: ..." line, and the word at fault when
  // there is one (for "Error: faulty argument is '...'").
  std::string error;
  std::string faulty;
};

// The words argv[first] to argv[count - 1].
Parsed parse(char** words, int first, int count, bool all_addresses);

// Messages as tarnwick_transfer takes them, over the messages' own buffers.
std::vector<tarnwick_msg> as_transfer(std::vector<Message>& messages);

}  // namespace transfer_messages
