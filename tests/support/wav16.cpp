// Test support: reading 16-bit PCM WAV files (see wav16.hpp).
#include "tests/support/wav16.hpp"

#include <cstring>
#include <optional>
#include <stdexcept>

#include "base/fatal.hpp"
#include "base/files.hpp"

namespace {

std::uint32_t ReadU32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) throw std::runtime_error("WAV file is truncated");
  return LittleEndian32(bytes.data() + at);
}

std::uint16_t ReadU16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 2) throw std::runtime_error("WAV file is truncated");
  return LittleEndian16(bytes.data() + at);
}

bool TagIs(const std::vector<std::uint8_t>& bytes, std::size_t at, const char* tag) {
  return at + 4 <= bytes.size() && std::memcmp(bytes.data() + at, tag, 4) == 0;
}

}  // namespace

TWavSamples ReadWav16(const std::string& path) {
  const std::optional<std::vector<std::uint8_t>> read = ReadWholeFile(path);
  if (!read) throw std::runtime_error("cannot read " + path);
  const std::vector<std::uint8_t>& bytes = *read;
  if (!TagIs(bytes, 0, "RIFF") || !TagIs(bytes, 8, "WAVE")) throw std::runtime_error(path + " is not a WAV file");

  TWavSamples wav;
  bool haveFormat = false;
  std::size_t at = 12;
  while (at + 8 <= bytes.size()) {
    const std::uint32_t size = ReadU32(bytes, at + 4);
    const std::size_t body = at + 8;
    if (TagIs(bytes, at, "fmt ")) {
      const std::uint16_t format = ReadU16(bytes, body);
      // 1 is PCM; 0xFFFE (extensible) carries PCM in its sub-format.
      const bool pcm = format == 1 || (format == 0xFFFE && size >= 40 && ReadU16(bytes, body + 24) == 1);
      if (!pcm || ReadU16(bytes, body + 14) != 16) throw std::runtime_error(path + " is not 16-bit PCM");
      wav.Channels = ReadU16(bytes, body + 2);
      wav.SampleRate = Narrow<int>(ReadU32(bytes, body + 4));
      haveFormat = true;
    } else if (TagIs(bytes, at, "data")) {
      if (!haveFormat) throw std::runtime_error(path + " has no format before its data");
      const std::size_t rest = bytes.size() - body;
      // A recorder that was stopped hard leaves the size at 0 (or too large).
      std::size_t length = (size == 0 || size > rest) ? rest : size;
      length -= length % 2;
      wav.Samples.resize(length / 2);
      for (std::size_t i = 0; i < wav.Samples.size(); ++i) {
        wav.Samples[i] = static_cast<std::int16_t>(ReadU16(bytes, body + 2 * i));
      }
      return wav;
    }
    at = body + size + (size % 2);
  }
  throw std::runtime_error(path + " has no data chunk");
}
