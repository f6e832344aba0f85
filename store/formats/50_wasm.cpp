// uStore: WebAssembly, the web program's format (the module is its image), in the table of
// formats (formats.hpp): told apart by its first bytes, before ELF; the store is its custom
// section kStoreSectionName (formats/wasm.hpp).
#include "store/formats.hpp"
#include "store/formats/wasm.hpp"
#include "store/store.hpp"

namespace {

std::optional<TImageSection> FindWasmStore(std::span<const std::uint8_t> image, std::string& error) {
  return FindWasmSection(image, kStoreSectionName, error);
}

}  // namespace

extern const TImageFormat kWasmImageFormat{"WebAssembly", LooksLikeWasm, FindWasmStore};
