// uPlatformFile on the web: the page has no file system of its own, so a temporary file is
// a buffer in the module's memory, reachable only through its handle and gone when it is
// closed or the page goes; every folder takes it (see tempfile.hpp).
#include "platform/tempfile.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

struct TFileHandle {
  std::vector<std::uint8_t> Bytes;
};

TPlatformFile::TAttempt TPlatformFile::Create(const std::string&) {
  Close();
  Handle_ = new TFileHandle;
  return {TResult::Created, {}};
}

bool TPlatformFile::Write(std::span<const std::uint8_t> bytes, std::string& error) {
  if (Handle_ == nullptr) {
    error = "the file is not open";
    return false;
  }
  Handle_->Bytes.insert(Handle_->Bytes.end(), bytes.begin(), bytes.end());
  return true;
}

std::size_t TPlatformFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
  if (Handle_ == nullptr || offset >= Handle_->Bytes.size()) return 0;
  const std::size_t taken = std::min<std::uint64_t>(count, Handle_->Bytes.size() - offset);
  std::memcpy(buffer, Handle_->Bytes.data() + offset, taken);
  return taken;
}

std::uint64_t TPlatformFile::Size() const { return Handle_ == nullptr ? 0 : Handle_->Bytes.size(); }

// No library can open the buffer by a name: it is given ReadAt.
std::string TPlatformFile::LibraryPath() const { return {}; }

void TPlatformFile::Close() {
  delete Handle_;
  Handle_ = nullptr;
}

bool PlaceInPrivateFolder(const std::function<bool(const std::string& folder, std::string& failure)>& place,
                          std::string& lastFailure) {
  // Memory takes every file; the folder only names it.
  if (place("/tmp/", lastFailure)) return true;
  return false;
}
