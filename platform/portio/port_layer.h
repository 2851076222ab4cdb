// The port layer's life, for programs that build it in (its own tests):
// hosts of libdlportio.so never need this, since the layer starts at the
// first access and finishes when the process ends or unloads it.
#pragma once

namespace portio {

// Finishes the backend in use (its files complete, its ports given back)
// and forgets it: the next access reads section "Port IO" again and opens
// the backend it names from the start.
void restart();

// The name of the backend in use ("sim", "direct", "ppdev", "ftdi",
// "gpio"); starts it
// when no access has been made yet.
const char* backend_name();

}  // namespace portio
