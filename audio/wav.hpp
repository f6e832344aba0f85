// uWAV: reads a RIFF/WAVE song in its canonical 44-byte layout ("fmt " with a 16-byte PCM
// body directly followed by "data") into its format fields and raw sample bytes. An
// embedded song goes through a temporary file beside the executable, read back through
// this process's own descriptor. The parser itself
// (ParseWAV) returns its verdict instead of ending the process, so it can be driven with
// arbitrary bytes; TWAV wraps it with the demo's fatal assertions.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/dynarray.hpp"
#include "base/facts.hpp"
#include "store/store.hpp"
#include "base/verdict.hpp"
#include "store/tempfile.hpp"

struct TRiffHeader {
  std::uint32_t ChunkID = 0;    // "RIFF", first character in the most significant byte
  std::uint32_t ChunkSize = 0;  // not used
  std::uint32_t Format = 0;     // "WAVE"
};

struct TFmtChunk {
  std::uint32_t ChunkID = 0;  // "fmt "
  std::uint32_t ChunkSize = 0;
  std::uint16_t AudioFormat = 0;
  std::uint16_t NumChannels = 0;
  std::uint32_t SampleRate = 0;
  std::uint32_t ByteRate = 0;
  std::uint16_t BlockAlign = 0;
  std::uint16_t BitsPerSample = 0;
};

// A four-character code as the reader holds it: the first character in the most
// significant byte (the file's four bytes read big-endian).
constexpr std::uint32_t FourCC(const char (&code)[5]) {
  return (std::uint32_t{static_cast<unsigned char>(code[0])} << 24) |
         (std::uint32_t{static_cast<unsigned char>(code[1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(code[2])} << 8) |
         std::uint32_t{static_cast<unsigned char>(code[3])};
}

// Where the parser's bytes come from: an open file, or bytes in memory.
class IWAVSource {
 public:
  virtual ~IWAVSource() = default;
  // Reads up to count bytes at the current position; fewer only at the end of the data.
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // The bytes left after the current position, or nothing when the source cannot tell.
  virtual std::optional<std::uint64_t> Remaining() = 0;
};

// Bytes in memory as a source.
class TWAVMemorySource final : public IWAVSource {
 public:
  explicit TWAVMemorySource(std::span<const std::uint8_t> bytes) : Bytes(bytes) {}
  std::size_t Read(void* buffer, std::size_t count) override;
  std::optional<std::uint64_t> Remaining() override { return Bytes.size() - Position; }

 private:
  std::span<const std::uint8_t> Bytes;
  std::size_t Position = 0;
};

// A file as a source: its bytes read at increasing offsets through readAt (fewer than asked
// only at its end; a read error counts as the end of data), and its size where it is known.
class TWAVFileSource final : public IWAVSource {
 public:
  using TReadAt = std::function<std::size_t(std::uint64_t offset, void* buffer, std::size_t count)>;
  TWAVFileSource(TReadAt readAt, std::optional<std::uint64_t> size) : ReadAt(std::move(readAt)), FileSize(size) {}
  std::size_t Read(void* buffer, std::size_t count) override;
  std::optional<std::uint64_t> Remaining() override;
  // How far the parser has read.
  std::uint64_t Position() const { return Offset; }

 private:
  TReadAt ReadAt;
  std::optional<std::uint64_t> FileSize;
  std::uint64_t Offset = 0;
};

// The outcome of a parse: the fields and samples, or the failed check with the line number
// under which the demo reports it (unit "uWAV").
struct TWAVParse : TParseVerdict {
  int Line = 0;  // of the failed check, when not Ok
  TRiffHeader RiffHeader;
  TFmtChunk FmtChunk;
  TUInt8DynArray Data;
};

// Parses the canonical layout from the source's current position. The data length is
// checked against the bytes that remain (when the source knows them) before the sample
// array is allocated, so a corrupt length never asks for more memory than the file holds.
TWAVParse ParseWAV(IWAVSource& source);
TWAVParse ParseWAVBytes(std::span<const std::uint8_t> bytes);

// The song's temporary file is named kTemporarySongFileName (base/facts.hpp).

class TWAV {
 public:
  // Fills the object from a file; false (and no output) when the file cannot be opened,
  // true after a complete load; any malformed content ends the demo with an assertion.
  bool LoadFromFile(const std::string& path);
  // Writes the entry to a temporary file beside the executable, loads it and deletes it.
  void LoadFromResourceLazinessHack(const TResourceEntry& entry);
  // The same detour through a temporary file at the given path (taken whole, never
  // shortened), or through one already created.
  void LoadThroughTemporaryFile(std::span<const std::uint8_t> bytes, const std::string& path);
  void LoadThroughTemporaryFile(const TResourceEntry& entry, TTemporaryFile& file);

  TRiffHeader RiffHeader;
  TFmtChunk FmtChunk;
  TUInt8DynArray Data;

 private:
  // Takes the parsed fields; a failed parse ends the demo with its report.
  void Load(const TWAVParse& parse);
};
