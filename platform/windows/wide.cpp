// uWide: UTF-8 and UTF-16, long paths and error words (see wide.hpp).
#include "platform/windows/wide.hpp"

#include <shellapi.h>

#include <climits>

std::wstring WideFromUtf8(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX) return {};
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

namespace {

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
constexpr std::wstring_view kLongUncPrefix = L"\\\\?\\UNC\\";

// Below this length a path needs no prefix (MAX_PATH less room for a file name the
// directory functions append).
constexpr std::size_t kShortPathLimit = MAX_PATH - 12;

}  // namespace

std::wstring SystemPath(std::string_view utf8Path) {
  std::wstring path = WideFromUtf8(utf8Path);
  if (path.starts_with(kLongPrefix)) return path;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  if (path.size() < kShortPathLimit) return path;
  // "\\?\" paths are not normalised by the system: "." and ".." and a relative start must
  // be resolved first.
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return path;
  full.resize(written);
  if (full.starts_with(L"\\\\")) return std::wstring(kLongUncPrefix) + full.substr(2);
  return std::wstring(kLongPrefix) + full;
}

std::string DisplayPath(std::wstring_view systemPath) {
  if (systemPath.starts_with(kLongUncPrefix)) return "\\\\" + Utf8FromWide(systemPath.substr(kLongUncPrefix.size()));
  if (systemPath.starts_with(kLongPrefix)) return Utf8FromWide(systemPath.substr(kLongPrefix.size()));
  return Utf8FromWide(systemPath);
}

std::string ErrorWords(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer),
                     0, nullptr);
  std::wstring words = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
  if (buffer != nullptr) LocalFree(buffer);
  while (!words.empty() && (words.back() == L'\r' || words.back() == L'\n' || words.back() == L' ' ||
                            words.back() == L'.')) {
    words.pop_back();
  }
  if (words.empty()) return "error " + std::to_string(error);
  return Utf8FromWide(words);
}

std::vector<std::string> Utf8Arguments(const wchar_t* commandLine) {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(commandLine, &count);
  std::vector<std::string> arguments;
  if (words == nullptr) return arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromWide(words[i]));
  LocalFree(words);
  return arguments;
}
