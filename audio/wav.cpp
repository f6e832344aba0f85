// uWAV: the canonical RIFF/WAVE parser, its file and memory sources, and the demo's
// loading of the embedded song through a temporary file (see wav.hpp).
#include "audio/wav.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  // One read call for a regular file; the loop only continues after a partial read.
  while (done < count) {
    ssize_t n = read(Fd, out + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::optional<std::uint64_t> TWAVFileSource::Remaining() {
  struct stat info {};
  if (fstat(Fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  off_t position = lseek(Fd, 0, SEEK_CUR);
  if (position < 0) return std::nullopt;
  if (position >= info.st_size) return 0;
  return static_cast<std::uint64_t>(info.st_size - position);
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
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  TWAVFileSource source(fd);
  TWAVParse parse = ParseWAV(source);
  close(fd);
  if (!parse.Ok()) AssertionFailed(parse.Error, kUnit, parse.Line);
  RiffHeader = parse.RiffHeader;
  FmtChunk = parse.FmtChunk;
  Data = parse.Data;
  return true;
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
  // Read back through the descriptor: the very bytes just written, whatever the name
  // leads to by now.
  Assert(LoadFromFile(file.ReadPath()), "failed to load tmp wav", kUnit, 226);
  // Its name went when it was made; closing it frees the file.
  file.Remove();
}
