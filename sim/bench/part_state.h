// What a test sets in the bench's parts from outside the bus, as a bench
// engineer warms a sensor, pulls a port pin low, sets a clock or programs an
// EEPROM in a programmer before putting it on the board: from per-part keys
// of section "Simulation" at power-up, and from the bench object's exports
// while it runs. A part is named by its 8-bit write address, as in the
// device list (any address of a larger EEPROM reaches the whole part).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class Bus;

namespace part_state {

// Each gives false, and changes nothing, when no part of that type answers
// at `address`.
// The LM75's temperature, rounded to 0.5 degC and held within -55 to +125.
bool set_temperature(Bus& bus, std::uint8_t address, double celsius);
// The PCF8574's pins as the outside circuit drives them: a 0 bit pulls
// that pin low.
bool set_inputs(Bus& bus, std::uint8_t address, std::uint8_t levels);
// The DS1307's time, seconds since 1970 of local wall-clock time, from
// which it runs on; false too for a year outside 2000 to 2099.
bool set_time(Bus& bus, std::uint8_t address, std::int64_t local_seconds);

// The contents of the EEPROM at `address`; false when none answers there.
bool eeprom_contents(Bus& bus, std::uint8_t address, std::vector<std::uint8_t>& contents);
// Programs the EEPROM at `address` with the image `file` holds (binary or
// i2cdump's text, see eeprom_image.h). Empty when done, otherwise why not.
std::string load_eeprom(Bus& bus, std::uint8_t address, std::string_view file);

// Applies the keys of section "Simulation" that name a part of `bus`:
// Temperature@ADDR, Inputs@ADDR, Time@ADDR and Image@ADDR. A value that
// cannot be used, or a file that cannot be read, is one line to `warn` and
// the part keeps its power-up state.
void apply_keys(Bus& bus, const std::function<void(std::string_view)>& warn);

}  // namespace part_state
}  // namespace sim
