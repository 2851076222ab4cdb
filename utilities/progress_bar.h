// A one-line progress bar on standard error, redrawn in place: only for a
// person watching a terminal, never into a file or a pipe.
#pragma once

namespace progress_bar {

// Whether standard error is a terminal.
bool wanted();

// "\r[#####               ]  25%  64/256 bytes", and a line end when done.
void show(unsigned done, unsigned total);

}  // namespace progress_bar
