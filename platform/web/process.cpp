// uProcess on the web: before the program starts, its standard output is made to end a
// console line at a carriage return as at a line feed. The browser's console takes whole
// lines only, and the frame loop's once-a-second report ends with a carriage return (it
// overwrites itself on a terminal); without this the reports would wait for the next line
// feed. The page hands main its words in UTF-8 (see process.hpp).
#include "platform/process.hpp"

#include <emscripten.h>

EM_JS(void, kelvo_lines_at_carriage_returns, (), {
  const ops = TTY.default_tty_ops;
  const putChar = ops.put_char;
  ops.put_char = function(tty, value) {
    if (value === 13) value = 10;
    putChar.call(this, tty, value);
  };
});

void PrepareProcess() { kelvo_lines_at_carriage_returns(); }

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }
