// A message box for a console system: the box is written to standard error
// as a "[caption]" line followed by its text and a line end. It never waits
// and never reads standard input, which belongs to the console's commands,
// and it leaves standard output alone.
//
// A box goes out in one write, so boxes of several processes sharing one
// standard error do not interleave. A null text or caption shows as empty.
#pragma once

namespace message_box {

void show(const char* text, const char* caption);

}  // namespace message_box
