// uVerdict: the one shape in which the parsers of embedded data (song, picture header,
// store) answer: their value, and beside it nothing when the data is sound or the one line
// that says why it is not.
#pragma once

#include <string>

struct TParseVerdict {
  std::string Error;  // empty when the data is sound
  bool Ok() const { return Error.empty(); }
};
