// Canonical RIFF/WAVE writer with a trailing LIST/INFO chunk (see wav_file.hpp).
#include "resources/song/wav_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "base/fatal.hpp"

namespace {

void PutCode(std::vector<std::uint8_t>& out, std::string_view code) {
  if (code.size() != 4) throw std::runtime_error("chunk code must have four characters: " + std::string(code));
  out.insert(out.end(), code.begin(), code.end());
}

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
}

std::uint32_t Size32(std::size_t size) {
  if (size > std::numeric_limits<std::uint32_t>::max()) throw std::runtime_error("WAV file larger than 4 GiB");
  return static_cast<std::uint32_t>(size);
}

// "LIST" <size> "INFO" then per tag: id, size of the zero-terminated text, text, NUL,
// and one pad byte when that size is odd.
std::vector<std::uint8_t> BuildInfoChunk(const std::vector<TInfoTag>& tags) {
  std::vector<std::uint8_t> body;
  PutCode(body, "INFO");
  for (const TInfoTag& tag : tags) {
    PutCode(body, tag.Id);
    const std::uint32_t textSize = Size32(tag.Text.size() + 1);
    PutU32(body, textSize);
    body.insert(body.end(), tag.Text.begin(), tag.Text.end());
    body.push_back(0);
    if (textSize % 2 != 0) body.push_back(0);
  }
  std::vector<std::uint8_t> chunk;
  PutCode(chunk, "LIST");
  PutU32(chunk, Size32(body.size()));
  chunk.insert(chunk.end(), body.begin(), body.end());
  return chunk;
}

}  // namespace

std::vector<std::uint8_t> BuildWavFile(const std::vector<std::int16_t>& interleaved,
                                       std::uint16_t channels, std::uint32_t sampleRate,
                                       const std::vector<TInfoTag>& tags) {
  const std::uint16_t bitsPerSample = 16;
  const std::uint16_t blockAlign = Narrow<std::uint16_t>(channels * (bitsPerSample / 8));
  const std::uint32_t dataSize = Size32(interleaved.size() * sizeof(std::int16_t));
  const std::vector<std::uint8_t> info = BuildInfoChunk(tags);

  std::vector<std::uint8_t> out;
  out.reserve(44 + dataSize + info.size());
  PutCode(out, "RIFF");
  PutU32(out, Size32(4 + (8 + 16) + (8 + std::size_t{dataSize}) + info.size()));
  PutCode(out, "WAVE");
  PutCode(out, "fmt ");
  PutU32(out, 16);
  PutU16(out, 1);  // integer PCM
  PutU16(out, channels);
  PutU32(out, sampleRate);
  PutU32(out, Narrow<std::uint32_t>(std::uint64_t{sampleRate} * blockAlign));
  PutU16(out, blockAlign);
  PutU16(out, bitsPerSample);
  PutCode(out, "data");
  PutU32(out, dataSize);
  for (std::int16_t sample : interleaved) PutU16(out, static_cast<std::uint16_t>(sample));
  out.insert(out.end(), info.begin(), info.end());
  return out;
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
  const bool closed = std::fclose(file) == 0;
  if (written != bytes.size() || !closed) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}
