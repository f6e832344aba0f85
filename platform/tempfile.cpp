// uPlatformFile: what every system's open temporary file does alike: it is moved, not
// copied, and closed (so gone) when its object goes (see tempfile.hpp).
#include "platform/tempfile.hpp"

#include <utility>

TPlatformFile::TPlatformFile() = default;

TPlatformFile::TPlatformFile(TPlatformFile&& other) noexcept : Handle_(std::exchange(other.Handle_, nullptr)) {}

TPlatformFile& TPlatformFile::operator=(TPlatformFile&& other) noexcept {
  if (this != &other) {
    Close();
    Handle_ = std::exchange(other.Handle_, nullptr);
  }
  return *this;
}

TPlatformFile::~TPlatformFile() { Close(); }

bool TPlatformFile::IsOpen() const { return Handle_ != nullptr; }
