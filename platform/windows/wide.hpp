// uWide: the text conversions every Windows unit needs. Windows names files and writes error
// words in UTF-16; the demo's strings are UTF-8 everywhere. Paths go to the system as wide
// strings (never through the ANSI code page, which cannot spell "C:\Users\Åsa\Démo party\"
// on most machines) and, when long, with the "\\?\" prefix that lifts MAX_PATH.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// UTF-8 to UTF-16 and back. Bytes that are not UTF-8 (and lone surrogates the other way)
// become U+FFFD, so a damaged name is never silently shortened.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

// A UTF-8 path as the wide path the file functions are given: forward slashes become
// backslashes, and a path too long for MAX_PATH is made absolute and given the "\\?\"
// (or "\\?\UNC\") prefix. A path that has the prefix already is passed as it is.
std::wstring SystemPath(std::string_view utf8Path);

// A path as the system reports it, for the demo's lines and its UTF-8 strings: the "\\?\"
// prefix the system may add is taken off again ("\\?\UNC\server\x" becomes "\\server\x").
std::string DisplayPath(std::wstring_view systemPath);

// A command line's words (split as Windows' own programs split it: quotes group, backslashes
// escape quotes) in UTF-8.
std::vector<std::string> Utf8Arguments(const wchar_t* commandLine);

// The system's words for an error code, in UTF-8, without the closing full stop and line
// break ("Access is denied"); "error <code>" where the system has none.
std::string ErrorWords(DWORD error);
