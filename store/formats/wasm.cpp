// uStore: the store's custom section in a WebAssembly module (see formats/wasm.hpp).
#include "store/formats/wasm.hpp"

#include <cstring>

namespace {

constexpr std::uint8_t kWasmHeader[8] = {0x00, 'a', 's', 'm', 0x01, 0x00, 0x00, 0x00};
constexpr std::uint8_t kCustomSection = 0;

// Reads an unsigned LEB128 number of at most 32 bits at position, moving past it; false when
// it runs past the end or is longer than five bytes.
bool ReadLength(std::span<const std::uint8_t> image, std::size_t& position, std::uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (position >= image.size()) return false;
    const std::uint8_t byte = image[position++];
    value |= std::uint64_t{byte & 0x7fu} << shift;
    if ((byte & 0x80u) == 0) return value <= 0xffffffffu;
  }
  return false;
}

void PutLength(std::vector<std::uint8_t>& out, std::uint64_t value) {
  do {
    const auto low = static_cast<std::uint8_t>(value & 0x7fu);
    value >>= 7;
    out.push_back(static_cast<std::uint8_t>(low | (value != 0 ? 0x80u : 0u)));
  } while (value != 0);
}

}  // namespace

bool LooksLikeWasm(std::span<const std::uint8_t> image) {
  return image.size() >= sizeof kWasmHeader && std::memcmp(image.data(), kWasmHeader, sizeof kWasmHeader) == 0;
}

std::optional<TImageSection> FindWasmSection(std::span<const std::uint8_t> image, std::string_view name,
                                           std::string& error) {
  auto fail = [&](const char* why) -> std::optional<TImageSection> {
    error = why;
    return std::nullopt;
  };
  if (!LooksLikeWasm(image)) return fail("not a WebAssembly module");
  for (std::size_t position = sizeof kWasmHeader; position < image.size();) {
    const std::size_t sectionAt = position;
    const std::uint8_t id = image[position++];
    std::uint64_t size = 0;
    if (!ReadLength(image, position, size) || size > image.size() - position)
      return fail("WebAssembly section outside the file");
    const std::size_t end = position + static_cast<std::size_t>(size);
    if (id == kCustomSection) {
      std::uint64_t nameSize = 0;
      std::size_t at = position;
      // The name's length is read within the section: a section too short to hold it must not
      // borrow the next section's bytes.
      if (!ReadLength(image.first(end), at, nameSize) || nameSize > end - at)
        return fail("WebAssembly section name outside the file");
      const std::string_view found(reinterpret_cast<const char*>(image.data() + at), static_cast<std::size_t>(nameSize));
      if (found == name) {
        TImageSection section;
        section.HeaderOffset = sectionAt;
        section.Offset = at + nameSize;
        section.Size = end - section.Offset;
        return section;
      }
    }
    position = end;
  }
  return fail("no resource store in the executable");
}

std::optional<std::vector<std::uint8_t>> WithWasmSection(std::span<const std::uint8_t> image, std::string_view name,
                                                         std::span<const std::uint8_t> contents, std::string& error) {
  if (!LooksLikeWasm(image)) {
    error = "not a WebAssembly module";
    return std::nullopt;
  }
  std::vector<std::uint8_t> out(image.begin(), image.begin() + sizeof kWasmHeader);
  for (std::size_t position = sizeof kWasmHeader; position < image.size();) {
    const std::size_t sectionAt = position;
    const std::uint8_t id = image[position++];
    std::uint64_t size = 0;
    if (!ReadLength(image, position, size) || size > image.size() - position) {
      error = "WebAssembly section outside the file";
      return std::nullopt;
    }
    const std::size_t end = position + static_cast<std::size_t>(size);
    bool named = false;
    if (id == kCustomSection) {
      std::uint64_t nameSize = 0;
      std::size_t at = position;
      named = ReadLength(image.first(end), at, nameSize) && nameSize <= end - at &&
              std::string_view(reinterpret_cast<const char*>(image.data() + at), static_cast<std::size_t>(nameSize)) == name;
    }
    if (!named) out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(sectionAt), image.begin() + static_cast<std::ptrdiff_t>(end));
    position = end;
  }
  std::vector<std::uint8_t> body;
  PutLength(body, name.size());
  body.insert(body.end(), name.begin(), name.end());
  out.push_back(kCustomSection);
  PutLength(out, body.size() + contents.size());
  out.insert(out.end(), body.begin(), body.end());
  out.insert(out.end(), contents.begin(), contents.end());
  return out;
}
