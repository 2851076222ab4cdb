// The console's commands: each word with the action it runs, searched in
// this order.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "console/commands/actions.h"
#include "console/interpreter/console_state.h"

namespace console {

// Each action is given the numbers typed after its word and the console's
// state; it answers with an error code.
using Action = std::int16_t (*)(const Arguments& arguments, Console& state);

struct Command {
  std::string_view word;
  Action action;
};

inline constexpr std::array<Command, 13> command_table = {{
    {"START", commands::start},
    {"CLOSE", commands::close},
    {"ADDRESS", commands::address},
    {"WRITE", commands::write},
    {"READ", commands::read},
    {"SEARCH", commands::search},
    {"DELAY", commands::delay},
    {"HELP", commands::help},
    {"?", commands::help},
    {"QUIT", commands::quit},
    {"MODE", commands::mode},
    {"INFO", commands::info},
    {"SELECT", commands::select},
}};

}  // namespace console
