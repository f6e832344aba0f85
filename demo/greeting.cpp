// uTextFiles: the greeting text that scrolls across the harbour scene (435 characters; the
// only character beyond ASCII is U+00E4).
#include "demo/greeting.hpp"

#include <cstdint>

const wchar_t GreetingText[] =
    L"hello and welcome to tessic, a little harbour demo by ombrel! "
    L"sit back, turn the sound up and watch the boat drift home while the sun rocks above the water. "
    L"warm greetings to everyone watching, to friends near and far, and to the people who make "
    L"free software: thank you freetype for every glyph, alsa for every beat, mesa, glu and "
    L"the kind folk of debian (3 cheers!). ahoi, bis sp\u00e4ter - the f\u00e4hre waits, the sea is calm: "
    L"tr\u00e4umt gut...";

std::string ToLatin1(std::wstring_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (wchar_t c : text) {
    auto code = static_cast<std::uint32_t>(c);
    bytes.push_back(code < 256 ? static_cast<char>(static_cast<unsigned char>(code)) : '?');
  }
  return bytes;
}
