// The sondrel program run as a person would run it: its standard input
// fed from a pipe or a terminal, its output collected, against the
// simulated bench of its own configuration file.
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/support/scratch.h"
#include "tests/support/semaphores.h"

namespace sondrel_test {

struct Ending {
  std::string output;  // standard output (and, on a terminal, all of it)
  std::string errors;  // standard error (pipes only)
  int exit_status;     // -1 when the program did not exit by itself
  int killed_by;       // the signal that killed it, or 0
};

// A scratch folder with the configuration file, and bus locks of its own.
class Workspace {
 public:
  explicit Workspace(const std::string& configuration);

  // A second configuration file in the same workspace, same bus locks.
  std::string add_configuration(const std::string& name, const std::string& text);

  const std::string& directory() const { return folder_.path(); }
  const std::string& semaphore_prefix() const { return semaphores_.prefix(); }
  const std::string& configuration_path() const { return configuration_; }

 private:
  test_kit::ScratchFolder folder_{"sondrel-test-"};
  test_kit::SemaphoreNamespace semaphores_{"sondrel-test"};
  std::string configuration_;
};

class Console {
 public:
  enum class Input { pipe, terminal };

  // Starts sondrel with `configuration_path` as its I2C.INI, and with
  // `extra_environment` ("NAME=value") added to its environment.
  Console(const Workspace& workspace, Input input, const std::string& configuration_path,
          const std::string& extra_environment = {});
  explicit Console(const Workspace& workspace, Input input = Input::pipe)
      : Console(workspace, input, workspace.configuration_path()) {}
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  void send(const std::string& bytes);
  // Reads output until `text` has appeared in it after the text of the
  // previous wait; false if the program ended or fell silent for a long
  // while first.
  bool wait_for(const std::string& text);
  // Terminal only: waits until the line editor has taken the terminal out
  // of its line mode, so that keys typed now reach the editor as keys.
  bool wait_for_line_editor();
  const std::string& output_so_far() const { return output_; }
  void end_input();
  void signal(int number);
  // Ends the input and collects everything up to the program's exit.
  Ending finish();

 private:
  bool pump(int timeout_ms);  // false once all output has ended

  pid_t pid_ = -1;
  int input_fd_ = -1;
  int output_fd_ = -1;
  int errors_fd_ = -1;
  std::string output_;
  std::string errors_;
  std::size_t waited_past_ = 0;
};

// Runs one whole session: all of `input`, then the end of the input.
Ending run_session(const Workspace& workspace, const std::string& input,
                   const std::string& extra_environment = {});

// What sondrel prints before its first prompt.
extern const std::string banner;

}  // namespace sondrel_test
