// uImage on the web: the program's image is its WebAssembly module, tessic.wasm, whose bytes
// the page keeps (Module.kelvoImage) after compiling it; the store is a custom section of it.
// A "mapping" is a copy in the module's memory, read-only by convention; files by name come
// from Emscripten's in-memory file system. Nothing is prefetched or released: the whole
// image is in memory already (see image.hpp).
#include "platform/image.hpp"

#include <emscripten.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "base/fatal.hpp"

struct TMappingHandle {
  std::vector<std::uint8_t> Bytes;
};

EM_JS(int, kelvo_image_size, (), { return Module.kelvoImage ? Module.kelvoImage.length : -1; });
EM_JS(void, kelvo_image_copy, (std::uint8_t* to), { HEAPU8.set(Module.kelvoImage, to); });
// The module's name, which the page gives (tessic.wasm by default).
EM_JS(char*, kelvo_image_name, (), {
  const name = Module.kelvoImageName || "tessic.wasm";
  const size = lengthBytesUTF8(name) + 1;
  const text = _malloc(size);
  stringToUTF8(name, text, size);
  return text;
});

std::string ExecutablePath() {
  char* name = kelvo_image_name();
  std::string path(name);
  std::free(name);
  return path;
}

std::size_t FolderPartLength(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

namespace {


}  // namespace

std::optional<TMappedFile> TMappedFile::Open(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  auto handle = std::make_unique<TMappingHandle>();
  std::uint8_t chunk[65536];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
    handle->Bytes.insert(handle->Bytes.end(), chunk, chunk + got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed || handle->Bytes.empty()) {
    error = "cannot read " + path;
    return std::nullopt;
  }
  TMappedFile mapped;
  mapped.Bytes_ = {handle->Bytes.data(), handle->Bytes.size()};
  mapped.Handle_ = handle.release();
  return mapped;
}

std::optional<TMappedFile> TMappedFile::OpenSelf(std::string& error) {
  const int size = kelvo_image_size();
  if (size <= 0) {
    error = "cannot read " + ExecutablePath() + ": the page kept no copy of the module";
    return std::nullopt;
  }
  auto handle = std::make_unique<TMappingHandle>();
  handle->Bytes.resize(static_cast<std::size_t>(size));
  kelvo_image_copy(handle->Bytes.data());
  TMappedFile mapped;
  mapped.Bytes_ = {handle->Bytes.data(), handle->Bytes.size()};
  mapped.Handle_ = handle.release();
  return mapped;
}

TMappedFile::TMappedFile(TMappedFile&& other) noexcept
    : Bytes_(std::exchange(other.Bytes_, {})), Handle_(std::exchange(other.Handle_, nullptr)) {}

TMappedFile& TMappedFile::operator=(TMappedFile&& other) noexcept {
  if (this != &other) {
    delete Handle_;
    Bytes_ = std::exchange(other.Bytes_, {});
    Handle_ = std::exchange(other.Handle_, nullptr);
  }
  return *this;
}

TMappedFile::~TMappedFile() { delete Handle_; }

void TMappedFile::Prefetch(std::span<const std::uint8_t>) const {}

void TMappedFile::Release(std::span<const std::uint8_t>) const {}
