// Line editing at a terminal, through libedit.
#include "console/interpreter/line_editor.h"

#include <histedit.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "console/interpreter/end_signals.h"

namespace line_editor {
namespace {

EditLine* editor = nullptr;
History* recall = nullptr;
HistEvent recall_event;

constexpr int recall_size = 500;

char prompt_text[64] = "";

char* current_prompt(EditLine*) { return prompt_text; }

// libedit's character source: waits through end_signals, so that Ctrl-C
// ends the wait as it does for plain input, and decodes the terminal's
// multibyte characters.
int read_character(EditLine*, wchar_t* character) {
  std::mbstate_t state{};
  for (;;) {
    if (!end_signals::wait_for_input(STDIN_FILENO)) {
      errno = EINTR;
      return -1;
    }
    char byte = 0;
    const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return -1;
    }
    wchar_t decoded = 0;
    const std::size_t used = std::mbrtowc(&decoded, &byte, 1, &state);
    if (used == static_cast<std::size_t>(-2)) continue;  // more bytes to come
    if (used == static_cast<std::size_t>(-1)) {
      // Not a character of the terminal's encoding: pass the byte on.
      state = std::mbstate_t{};
      decoded = static_cast<unsigned char>(byte);
    }
    *character = decoded;
    return 1;
  }
}

bool has_non_blank(const char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] != ' ' && text[i] != '\t') return true;
  }
  return false;
}

}  // namespace

bool open(const char* program_name) {
  // The terminal's character encoding, for editing only; the console's own
  // parsing does not depend on the locale.
  std::setlocale(LC_CTYPE, "");
  editor = el_init(program_name, stdin, stdout, stderr);
  if (editor == nullptr) return false;
  recall = history_init();
  if (recall != nullptr) {
    history(recall, &recall_event, H_SETSIZE, recall_size);
    history(recall, &recall_event, H_SETUNIQUE, 1);
    el_set(editor, EL_HIST, history, recall);
  }
  el_set(editor, EL_EDITOR, "emacs");
  el_set(editor, EL_PROMPT, current_prompt);
  el_set(editor, EL_GETCFN, read_character);
  el_source(editor, nullptr);  // the person's ~/.editrc, when there is one
  return true;
}

void close() {
  if (editor != nullptr) el_end(editor);
  if (recall != nullptr) history_end(recall);
  editor = nullptr;
  recall = nullptr;
}

line_reading::Outcome read_line(const char* prompt, char* buffer,
                              std::size_t capacity, std::size_t& length) {
  length = 0;
  buffer[0] = '\0';
  std::snprintf(prompt_text, sizeof prompt_text, "%s", prompt);
  std::fflush(stdout);
  int count = 0;
  const char* line = el_gets(editor, &count);
  if (line == nullptr || count <= 0 || end_signals::received() != 0) {
    return line_reading::Outcome::ended;
  }
  std::size_t typed = strnlen(line, static_cast<std::size_t>(count));
  if (typed > 0 && line[typed - 1] == '\n') --typed;
  if (recall != nullptr && has_non_blank(line, typed)) {
    history(recall, &recall_event, H_ENTER, std::string(line, typed).c_str());
  }
  if (typed + 1 > capacity) return line_reading::Outcome::overlong;
  std::memcpy(buffer, line, typed);
  buffer[typed] = '\0';
  length = typed;
  return line_reading::Outcome::line;
}

}  // namespace line_editor
