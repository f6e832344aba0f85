// uTextFiles: the greeting text that scrolls across the harbour scene (435 characters; the
// only character beyond ASCII is U+00E4).
#include "base/files.hpp"

const wchar_t GreetingText[] =
    L"hello and welcome to tessic, a little harbour demo by ombrel! "
    L"sit back, turn the sound up and watch the boat drift home while the sun rocks above the water. "
    L"warm greetings to everyone watching, to friends near and far, and to the people who make "
    L"free software: thank you freetype for every glyph, alsa for every beat, mesa, glu and "
    L"the kind folk of debian (3 cheers!). ahoi, bis sp\u00e4ter - the f\u00e4hre waits, the sea is calm: "
    L"tr\u00e4umt gut...";
