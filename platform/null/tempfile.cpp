// uPlatformFile of the null system: temporary files in memory. A file is a buffer owned by
// its handle; its name never reaches a disk, so nothing stands at it at any time and nothing
// is left behind however the process ends. The libraries that open files by name are given
// ReadAt instead (see tempfile.hpp).
#include "platform/tempfile.hpp"

#include <algorithm>
#include <cstring>
#include <new>
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
  try {
    Handle_->Bytes.insert(Handle_->Bytes.end(), bytes.begin(), bytes.end());
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return false;
  }
  return true;
}

std::size_t TPlatformFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
  if (Handle_ == nullptr || offset >= Handle_->Bytes.size()) return 0;
  const std::size_t n = std::min<std::uint64_t>(count, Handle_->Bytes.size() - offset);
  std::memcpy(buffer, Handle_->Bytes.data() + offset, n);
  return n;
}

std::uint64_t TPlatformFile::Size() const { return Handle_ == nullptr ? 0 : Handle_->Bytes.size(); }

std::string TPlatformFile::LibraryPath() const { return {}; }

void TPlatformFile::Close() {
  delete Handle_;
  Handle_ = nullptr;
}

// Creating a file in memory never fails for its folder, so no private folder is needed; the
// one "folder" offered is the empty one.
bool PlaceInPrivateFolder(const std::function<bool(const std::string& folder, std::string& failure)>& place,
                          std::string& lastFailure) {
  return place(std::string(), lastFailure);
}
