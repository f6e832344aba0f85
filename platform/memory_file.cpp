// uPlatformFile in memory: a temporary file is a buffer, created empty whatever its name,
// appended to until memory runs out (said as a failed write, never a crash), read at any
// offset, and gone when it is closed (see memory_file.hpp).
#include "platform/memory_file.hpp"

#include <algorithm>
#include <cstring>
#include <new>

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
