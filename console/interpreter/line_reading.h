// What reading one input line gave. Both readers (plain_reader, line_editor)
// answer with it, and line_input, which chooses between them, passes it on.
#pragma once

namespace line_reading {

enum class Outcome {
  line,      // a line, without its line end, is in the buffer
  overlong,  // the line did not fit; all of it has been read and dropped
  ended,     // no more input, or an end signal (end_signals::received())
};

}  // namespace line_reading
