// Decodes a VCD file of the bench bus with sigrok-cli's I2C protocol
// decoder, an implementation independent of the bench, so a test can check
// that a waveform says exactly what went over the bus.
//
//   if (!tw_test::sigrok_cli_available()) GTEST_SKIP() << tw_test::kNoSigrok;
//   EXPECT_EQ(tw_test::sigrok_decode_i2c(path), "S AW:A0 A DW:12 A P");
//
// The result is one token per decoder event, blank-separated:
//   S start, Sr repeated start, P stop, A ack, N nack,
//   AW:xx / AR:xx address byte (8-bit, direction included) for write / read,
//   DW:xx / DR:xx data byte written / read (hex, upper case).
// Anything the decoder said that is none of these (a warning, an error of
// sigrok-cli itself) comes out as "?" followed by the text, so it shows in
// a failed comparison.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tw_test {

inline constexpr const char* kNoSigrok =
    "sigrok-cli is not installed (Debian package sigrok-cli); the waveform "
    "is not decoded";

inline bool sigrok_cli_available() {
  return std::system("sigrok-cli --version > /dev/null 2>&1") == 0;
}

inline std::string shell_quoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

inline std::string sigrok_token(std::string_view text) {
  auto byte_after = [&](std::string_view prefix, const char* tag) -> std::string {
    return std::string(tag) + std::string(text.substr(prefix.size()));
  };
  constexpr std::string_view kAddressWrite = "Address write: ";
  constexpr std::string_view kAddressRead = "Address read: ";
  constexpr std::string_view kDataWrite = "Data write: ";
  constexpr std::string_view kDataRead = "Data read: ";
  if (text == "Start") return "S";
  if (text == "Start repeat") return "Sr";
  if (text == "Stop") return "P";
  if (text == "ACK") return "A";
  if (text == "NACK") return "N";
  if (text == "Write" || text == "Read") return "";  // the R/W bit alone
  if (text.starts_with(kAddressWrite)) return byte_after(kAddressWrite, "AW:");
  if (text.starts_with(kAddressRead)) return byte_after(kAddressRead, "AR:");
  if (text.starts_with(kDataWrite)) return byte_after(kDataWrite, "DW:");
  if (text.starts_with(kDataRead)) return byte_after(kDataRead, "DR:");
  return "?" + std::string(text);
}

// The decoded events of `vcd_path`, whose wires are named scl and sda.
inline std::string sigrok_decode_i2c(const std::string& vcd_path) {
  const std::string command =
      "sigrok-cli -I vcd -i " + shell_quoted(vcd_path) +
      " -P i2c:scl=scl:sda=sda:address_format=unshifted"
      " -A i2c=start:repeat-start:stop:ack:nack:address-read:address-write:"
      "data-read:data-write:warnings 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return "?cannot run sigrok-cli";
  std::string tokens;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string_view text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
      text.remove_suffix(1);
    }
    const std::size_t colon = text.find(": ");
    if (text.starts_with("i2c") && colon != std::string_view::npos) {
      text.remove_prefix(colon + 2);
    }
    const std::string token = sigrok_token(text);
    if (token.empty()) continue;
    if (!tokens.empty()) tokens += ' ';
    tokens += token;
  }
  const int status = ::pclose(pipe);
  if (status != 0) tokens += " ?sigrok-cli exit status " + std::to_string(status);
  return tokens;
}

}  // namespace tw_test
