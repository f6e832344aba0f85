// uImage on Windows: the executable's path from GetModuleFileNameW (UTF-8, any length), and
// files mapped read-only with CreateFileMappingW and MapViewOfFile. Prefetch asks for the
// range with PrefetchVirtualMemory where the system has it (Windows 8 and later; looked up,
// so the program still starts on systems without it); Release takes the whole pages of the
// range out of the working set with VirtualUnlock, which for pages that are not locked does
// exactly that (DiscardVirtualMemory and OfferVirtualMemory take private memory only, and
// these pages are the file's: read again from it if touched) (see image.hpp).
#include "platform/image.hpp"

#include <windows.h>

#include <utility>

#include "base/fatal.hpp"
#include "platform/windows/wide.hpp"

struct TMappingHandle {};

namespace {

// PrefetchVirtualMemory's range record and signature, declared here so that the headers'
// Windows version need not claim Windows 8.
struct TMemoryRange {
  void* VirtualAddress;
  SIZE_T NumberOfBytes;
};
using TPrefetchVirtualMemory = BOOL(WINAPI*)(HANDLE, ULONG_PTR, TMemoryRange*, ULONG);

TPrefetchVirtualMemory PrefetchFunction() {
  static const TPrefetchVirtualMemory function = [] {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr
               ? reinterpret_cast<TPrefetchVirtualMemory>(
                     reinterpret_cast<void*>(GetProcAddress(kernel, "PrefetchVirtualMemory")))
               : nullptr;
  }();
  return function;
}

std::uintptr_t PageSize() {
  static const std::uintptr_t size = [] {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return static_cast<std::uintptr_t>(info.dwPageSize);
  }();
  return size;
}

}  // namespace

std::string ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      FatalLine("Cannot find the executable's path (GetModuleFileNameW: " + ErrorWords(GetLastError()) + ")",
                kExitAssertion);
    }
    // A name that fills the buffer may have been cut: the buffer grows until it does not.
    if (length < path.size()) {
      path.resize(length);
      return DisplayPath(path);
    }
    if (path.size() >= 32768) {
      FatalLine("Cannot find the executable's path (longer than the system allows)", kExitAssertion);
    }
    path.resize(path.size() * 2);
  }
}

std::size_t FolderPartLength(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? 0 : separator + 1;
}

std::optional<TMappedFile> TMappedFile::Open(const std::string& path, std::string& error) {
  // Others may read the file meanwhile (the running executable is open in the loader), and
  // rename or delete it: the mapping keeps its bytes.
  HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot open " + path + ": " + ErrorWords(GetLastError());
    return std::nullopt;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 ||
      static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX) {
    CloseHandle(file);
    error = "cannot read " + path;
    return std::nullopt;
  }
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const DWORD mappingError = GetLastError();
  CloseHandle(file);  // the mapping holds the file
  if (mapping == nullptr) {
    error = "cannot map " + path + ": " + ErrorWords(mappingError);
    return std::nullopt;
  }
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  const DWORD viewError = GetLastError();
  CloseHandle(mapping);  // the view holds the mapping
  if (view == nullptr) {
    error = "cannot map " + path + ": " + ErrorWords(viewError);
    return std::nullopt;
  }
  TMappedFile mapped;
  mapped.Bytes_ = {static_cast<const std::uint8_t*>(view), static_cast<std::size_t>(size.QuadPart)};
  return mapped;
}

std::optional<TMappedFile> TMappedFile::OpenSelf(std::string& error) { return Open(ExecutablePath(), error); }

TMappedFile::TMappedFile(TMappedFile&& other) noexcept
    : Bytes_(std::exchange(other.Bytes_, {})), Handle_(std::exchange(other.Handle_, nullptr)) {}

TMappedFile& TMappedFile::operator=(TMappedFile&& other) noexcept {
  if (this != &other) {
    if (!Bytes_.empty()) UnmapViewOfFile(Bytes_.data());
    Bytes_ = std::exchange(other.Bytes_, {});
    Handle_ = std::exchange(other.Handle_, nullptr);
  }
  return *this;
}

TMappedFile::~TMappedFile() {
  if (!Bytes_.empty()) UnmapViewOfFile(Bytes_.data());
}

void TMappedFile::Prefetch(std::span<const std::uint8_t> range) const {
  const TPrefetchVirtualMemory prefetch = PrefetchFunction();
  if (prefetch == nullptr || range.empty()) return;
  const TPageRange pages = PagesCovering(range, PageSize());
  TMemoryRange entry{reinterpret_cast<void*>(pages.Begin), static_cast<SIZE_T>(pages.End - pages.Begin)};
  prefetch(GetCurrentProcess(), 1, &entry, 0);
}

void TMappedFile::Release(std::span<const std::uint8_t> range) const {
  // Only the pages that hold nothing but this range: its neighbours may still be read.
  const TPageRange pages = PagesInside(range, PageSize());
  // Fails with ERROR_NOT_LOCKED, as documented, after taking the pages out.
  if (!pages.Empty()) VirtualUnlock(reinterpret_cast<void*>(pages.Begin), pages.End - pages.Begin);
}
