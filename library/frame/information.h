// The information box of I2C_Info: version, and the adapter in use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace frame {

// The box's text for the given adapter index, into `buffer` (terminated,
// cut to `size` - 1 characters).
void information_text(std::int16_t adapter, char* buffer, std::size_t size);

// Shows the box for the current adapter.
void show_information();

}  // namespace frame
