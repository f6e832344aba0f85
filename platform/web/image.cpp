// uImage on the web: the program's image is its WebAssembly module, tessic.wasm, whose bytes
// the page keeps (Module.kelvoImage) after compiling it; the store is a custom section of it.
// A "mapping" is a copy in the module's memory (platform/memory_image.cpp, added by
// system.cmake); files by name come from Emscripten's in-memory file system (see image.hpp).
#include "platform/memory_image.hpp"

#include <emscripten.h>

#include <cstdlib>

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

bool ReadProgramImage(std::vector<std::uint8_t>& bytes, std::string& error) {
  const int size = kelvo_image_size();
  if (size <= 0) {
    error = "cannot read " + ExecutablePath() + ": the page kept no copy of the module";
    return false;
  }
  bytes.resize(static_cast<std::size_t>(size));
  kelvo_image_copy(bytes.data());
  return true;
}
