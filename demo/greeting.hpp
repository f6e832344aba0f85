// uTextFiles: the greeting text that scrolls across the harbour scene and the one-byte form
// in which the scroller receives it.
#pragma once

#include <string>
#include <string_view>

// The greeting text the scroller moves across the harbour scene.
extern const wchar_t GreetingText[];

// One byte per character: code units below 256 keep their value, every other one
// becomes '?'.
std::string ToLatin1(std::wstring_view text);
