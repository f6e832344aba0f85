// uWAV: the canonical RIFF/WAVE parser, its file and memory sources, and the demo's
// loading of the embedded song through a temporary file (see wav.hpp).
#include "audio/wav.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <cerrno>
#include <cstring>

#include "base/loglines.hpp"
#include "base/files.hpp"

namespace {

constexpr std::string_view kUnit = "uWAV";

std::uint32_t BigEndian32(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
         std::uint32_t{bytes[3]};
}

// Reads exactly count bytes; false when the source ends first.
bool ReadExactly(IWAVSource& source, void* buffer, std::size_t count) {
  return source.Read(buffer, count) == count;
}

TWAVParse Failure(std::string_view message, int line) {
  TWAVParse parse;
  parse.Error = message;
  parse.Line = line;
  return parse;
}

}  // namespace

std::size_t TWAVMemorySource::Read(void* buffer, std::size_t count) {
  std::size_t take = std::min(count, Bytes.size() - Position);
  if (take > 0) std::memcpy(buffer, Bytes.data() + Position, take);
  Position += take;
  return take;
}

std::size_t TWAVFileSource::Read(void* buffer, std::size_t count) {
  const std::size_t done = ReadAt(Offset, buffer, count);
  Offset += done;
  return done;
}

std::optional<std::uint64_t> TWAVFileSource::Remaining() {
  if (!FileSize) return std::nullopt;
  return *FileSize > Offset ? *FileSize - Offset : 0;
}

TWAVParse ParseWAV(IWAVSource& source) {
  TWAVParse parse;

  std::uint8_t riff[12];
  if (!ReadExactly(source, riff, sizeof riff)) return Failure("file too short (riff chunk)", 125);
  parse.RiffHeader.ChunkID = BigEndian32(riff);
  parse.RiffHeader.ChunkSize = LittleEndian32(riff + 4);
  parse.RiffHeader.Format = BigEndian32(riff + 8);
  if (parse.RiffHeader.ChunkID != FourCC("RIFF")) return Failure("first 4 bytes not RIFF", 135);
  if (parse.RiffHeader.Format != FourCC("WAVE")) return Failure("riff type not WAVE", 136);

  std::uint8_t fmt[24];
  if (!ReadExactly(source, fmt, sizeof fmt)) return Failure("file too short (\"fmt \" chunk)", 139);
  parse.FmtChunk.ChunkID = BigEndian32(fmt);
  parse.FmtChunk.ChunkSize = LittleEndian32(fmt + 4);
  parse.FmtChunk.AudioFormat = LittleEndian16(fmt + 8);
  parse.FmtChunk.NumChannels = LittleEndian16(fmt + 10);
  parse.FmtChunk.SampleRate = LittleEndian32(fmt + 12);
  parse.FmtChunk.ByteRate = LittleEndian32(fmt + 16);
  parse.FmtChunk.BlockAlign = LittleEndian16(fmt + 20);
  parse.FmtChunk.BitsPerSample = LittleEndian16(fmt + 22);
  if (parse.FmtChunk.ChunkID != FourCC("fmt ")) return Failure("no \"fmt \" chunk where expected", 158);

  std::uint8_t code[4];
  if (!ReadExactly(source, code, sizeof code)) return Failure("file too short (data chunk)", 165);
  if (BigEndian32(code) != FourCC("data")) return Failure("no data chunk where expected", 174);

  std::uint8_t size[4];
  if (!ReadExactly(source, size, sizeof size)) return Failure("file too short (data chunk length)", 181);
  const std::uint32_t length = LittleEndian32(size);

  // A length beyond the end of the file is refused before any memory is asked for.
  std::optional<std::uint64_t> remaining = source.Remaining();
  if (remaining && length > *remaining) return Failure("file too short (data)", 194);
  parse.Data = TUInt8DynArray::Uninitialized(length);
  if (length > 0 && !ReadExactly(source, parse.Data.Data(), length)) {
    return Failure("file too short (data)", 194);
  }
  return parse;
}

TWAVParse ParseWAVBytes(std::span<const std::uint8_t> bytes) {
  TWAVMemorySource source(bytes);
  return ParseWAV(source);
}

bool TWAV::LoadFromFile(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) return false;
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(PathFromUtf8(path), error);
  TWAVFileSource source(
      [&in](std::uint64_t offset, void* buffer, std::size_t count) -> std::size_t {
        in.clear();
        in.seekg(static_cast<std::streamoff>(offset));
        in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
        return static_cast<std::size_t>(in.gcount());
      },
      error ? std::nullopt : std::optional<std::uint64_t>(size));
  Load(ParseWAV(source));
  return true;
}

void TWAV::Load(const TWAVParse& parse) {
  if (!parse.Ok()) AssertionFailed(parse.Error, kUnit, parse.Line);
  RiffHeader = parse.RiffHeader;
  FmtChunk = parse.FmtChunk;
  Data = parse.Data;
}

void TWAV::LoadFromResourceLazinessHack(const TResourceEntry& entry) {
  WriteLine("[uWAV] Loading song from resource (laziness hack)");
  TTemporaryFile file = TTemporaryFile::Create(kTemporarySongFileName, kUnit);
  LoadThroughTemporaryFile(entry, file);
}

void TWAV::LoadThroughTemporaryFile(std::span<const std::uint8_t> bytes, const std::string& path) {
  TTemporaryFile file = TTemporaryFile::CreateAt(path, kUnit);
  TResourceEntry entry;
  entry.Bytes = bytes;
  LoadThroughTemporaryFile(entry, file);
}

void TWAV::LoadThroughTemporaryFile(const TResourceEntry& entry, TTemporaryFile& file) {
  WriteLine(std::string(kSongTempFilePrefix) + file.Path());
  file.WriteEntry(entry);
  // Read back through the open file: the very bytes just written, whatever the name leads
  // to by now.
  TWAVFileSource source(
      [&file](std::uint64_t offset, void* buffer, std::size_t count) { return file.ReadAt(offset, buffer, count); },
      file.Size());
  Load(ParseWAV(source));
  // Its name went when it was made; closing it frees the file.
  file.Remove();
}
