#include "utilities/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "utilities/tool_options.h"

namespace command_line {

namespace {

constexpr int kHighestAdapter = 3;

void unsupported(const char* word) { std::fprintf(stderr, "Error: Unsupported option \"%s\"!\n", word); }

}  // namespace

int usage(const Program& program) {
  std::fputs(program.help, stderr);
  return kBadArguments;
}

Parsed flags(const Program& program, int argc, char** argv) {
  Parsed parsed;
  Flags& flags = parsed.flags;
  // As i2c-tools: flags until the first word that does not start with '-'.
  for (; flags.next < argc && argv[flags.next][0] == '-'; ++flags.next) {
    const char* word = argv[flags.next];
    if (std::strcmp(word, "-h") == 0) word = "--help";
    if (std::strcmp(word, "-V") == 0) word = "--version";
    if (const auto status = tool_options::help_or_version(word, program.name, program.help)) {
      parsed.status = status;
      return parsed;
    }
    const char letter = word[1];
    if (word[2] != '\0' || std::strchr(program.flags, letter) == nullptr) {
      unsupported(word);
      parsed.status = usage(program);
      return parsed;
    }
    if (letter == 'i' || letter == 'm') {
      if (flags.next + 1 >= argc) {
        std::fprintf(stderr, "Error: Option %s needs a value!\n", word);
        parsed.status = usage(program);
        return parsed;
      }
      const char* value = argv[++flags.next];
      if (letter == 'm') {
        flags.mask = value;
        continue;
      }
      flags.adapter = tool_options::adapter(value);
      if (!flags.adapter) {
        std::fprintf(stderr, "Error: Adapter '%s' is not 1, 2 or 3!\n", value);
        parsed.status = usage(program);
        return parsed;
      }
      continue;
    }
    switch (letter) {
      case 'y': flags.yes = true; break;
      case 'f': flags.force = true; break;
      case 'a': flags.all_addresses = true; break;
      case 'v': flags.verbose = true; break;
      case 'b': flags.binary = true; break;
      case 'r': flags.readback = true; break;
      default: break;
    }
  }
  return parsed;
}

std::optional<int> adapter(Flags& flags, int argc, char** argv) {
  if (flags.adapter) return flags.adapter;
  if (flags.next >= argc) return std::nullopt;
  const char* text = argv[flags.next++];
  char* end = nullptr;
  const unsigned long number = std::strtoul(text, &end, 0);
  if (*text == '\0' || *end != '\0' || *text == '-') {
    // i2c-tools takes a word as a bus name; no adapter here has a name.
    std::fputs("Error: I2C bus name doesn't match any bus present!\n", stderr);
    return std::nullopt;
  }
  if (number > kHighestAdapter) {
    std::fputs("Error: I2C bus out of range!\n", stderr);
    return std::nullopt;
  }
  return static_cast<int>(number);
}

std::optional<int> chip_address(const char* text, bool all_addresses) {
  char* end = nullptr;
  const long address = std::strtol(text, &end, 0);
  if (*end != '\0' || *text == '\0') {
    std::fputs("Error: Chip address is not a number!\n", stderr);
    return std::nullopt;
  }
  const long low = all_addresses ? 0x00 : 0x08;
  const long high = all_addresses ? 0x7F : 0x77;
  if (address < low || address > high) {
    std::fprintf(stderr, "Error: Chip address out of range (0x%02lx-0x%02lx)!\n", low, high);
    return std::nullopt;
  }
  return static_cast<int>(address);
}

bool continue_or_abort(bool yes_by_default) {
  std::fprintf(stderr, "Continue? [%s] ", yes_by_default ? "Y/n" : "y/N");
  std::fflush(stderr);
  if (user_ack(yes_by_default)) return true;
  std::fputs("Aborting on user request.\n", stderr);
  return false;
}

bool user_ack(bool yes_by_default) {
  char first[2];
  if (std::fgets(first, sizeof first, stdin) == nullptr) return false;
  bool yes = yes_by_default;
  if (first[0] == 'y' || first[0] == 'Y') yes = true;
  if (first[0] == 'n' || first[0] == 'N') yes = false;
  // The rest of the line goes; an answer without its newline is no answer.
  for (int c = first[0]; c != '\n';) {
    c = std::fgetc(stdin);
    if (c == EOF) return false;
  }
  return yes;
}

}  // namespace command_line
