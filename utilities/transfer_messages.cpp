#include "utilities/transfer_messages.h"

#include <cstdlib>
#include <optional>
#include <string_view>

#include "utilities/command_line.h"

namespace transfer_messages {

namespace {

// "r?": the slave's count byte and up to 255 bytes after it, SMBus 3's
// longest block.
constexpr std::size_t kReceiveLengthBuffer = 256;
constexpr unsigned long kLongestLength = 0xFFFF;

// i2ctransfer's generator: an 8-bit add-xor-rotate with 13 and 27.
std::uint8_t pseudo_random_next(std::uint8_t value) {
  value = static_cast<std::uint8_t>((value ^ 27) + 13);
  return static_cast<std::uint8_t>(value << 1 | value >> 7);
}

struct Parser {
  bool all_addresses;
  Parsed result;
  std::optional<std::uint16_t> address;  // the last one given: later DESCs may leave it out
  std::size_t filled = 0;                // data bytes of the pending write

  bool fail(const std::string& error, const char* word) {
    result.error = error;
    if (word != nullptr) result.faulty = word;
    return false;
  }
  bool writing() const {
    return !result.messages.empty() && filled < result.messages.back().data.size();
  }

  bool description(const char* word) {
    if (result.messages.size() >= TARNWICK_MAX_MESSAGES) {
      return fail("Error: Too many messages (max: " + std::to_string(TARNWICK_MAX_MESSAGES) + ")",
                  nullptr);
    }
    const char* text = word;
    Message message{0, 0, {}};
    if (*text == 'r') message.flags = TARNWICK_M_RD;
    else if (*text != 'w') return fail("Error: Invalid direction", word);
    ++text;
    std::size_t length = 0;
    if (*text == '?') {
      if (message.flags == 0) return fail("Error: variable length not allowed with write", word);
      message.flags |= TARNWICK_M_RECV_LEN;
      length = kReceiveLengthBuffer;
      ++text;
    } else {
      char* end = nullptr;
      const unsigned long value = std::strtoul(text, &end, 0);
      if (end == text || *text == '-' || value > kLongestLength) return fail("Error: Length invalid", word);
      length = value;
      text = end;
    }
    if (*text != '\0') {
      if (*text++ != '@') return fail("Error: Unknown separator after length", word);
      const auto chip = command_line::chip_address(text, all_addresses);
      if (!chip) return fail("", word);
      address = static_cast<std::uint16_t>(*chip);
    } else if (!address) {
      return fail("Error: No address given", word);
    }
    message.address = *address;
    message.data.assign(length, 0);
    // As i2c-dev wants a receive-length buffer: a length of one to begin with.
    if (message.flags & TARNWICK_M_RECV_LEN) message.data[0] = 1;
    result.messages.push_back(std::move(message));
    filled = (result.messages.back().flags & TARNWICK_M_RD) ? length : 0;
    return true;
  }

  bool data(const char* word) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(word, &end, 0);
    if (end == word || *word == '-' || value > 0xFF) return fail("Error: Invalid data byte", word);
    std::vector<std::uint8_t>& bytes = result.messages.back().data;
    auto byte = static_cast<std::uint8_t>(value);
    const char suffix = *end;
    if (suffix != '\0' && (end[1] != '\0' || std::string_view("=+-p").find(suffix) == std::string_view::npos)) {
      return fail("Error: Invalid data byte suffix", word);
    }
    do {
      bytes[filled++] = byte;
      if (suffix == '+') ++byte;
      if (suffix == '-') --byte;
      if (suffix == 'p') byte = pseudo_random_next(byte);
    } while (suffix != '\0' && filled < bytes.size());
    return true;
  }
};

}  // namespace

Parsed parse(char** words, int first, int count, bool all_addresses) {
  Parser parser{all_addresses, {}, std::nullopt, 0};
  for (int i = first; i < count; ++i) {
    const bool good = parser.writing() ? parser.data(words[i]) : parser.description(words[i]);
    if (!good) return parser.result;
  }
  if (parser.writing() || parser.result.messages.empty()) {
    parser.fail("Error: Incomplete message", nullptr);
  }
  return parser.result;
}

std::vector<tarnwick_msg> as_transfer(std::vector<Message>& messages) {
  std::vector<tarnwick_msg> msgs;
  for (Message& message : messages) {
    msgs.push_back({message.address, message.flags, static_cast<std::uint16_t>(message.data.size()),
                    message.data.empty() ? nullptr : message.data.data()});
  }
  return msgs;
}

}  // namespace transfer_messages
