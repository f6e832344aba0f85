// Fuzz target: the song parser on arbitrary bytes in memory. It must either name a failed
// check with its line number, or return the format fields and exactly the bytes of the data
// chunk that follows the canonical 44-byte header.
#include <cstdint>
#include <cstring>
#include <set>

#include "audio/wav.hpp"
#include "base/files.hpp"
#include "tests/fuzz/fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const TWAVParse parse = ParseWAVBytes({data, size});
  if (!parse.Ok()) {
    static const std::set<int> kLines = {125, 135, 136, 139, 158, 165, 174, 181, 194};
    Require(kLines.count(parse.Line) == 1, "a failed parse names one of the reader's checks");
    Require(parse.Data.Length() == 0, "a failed parse keeps no samples");
    return 0;
  }
  Require(size >= 44, "a parsed song has the whole header");
  Require(std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WAVEfmt ", 8) == 0 &&
              std::memcmp(data + 36, "data", 4) == 0,
          "a parsed song has the canonical layout");
  const std::uint32_t length = LittleEndian32(data + 40);
  Require(parse.Data.Length() == length && length <= size - 44, "the samples are the data chunk's bytes");
  Require(length == 0 || std::memcmp(parse.Data.Data(), data + 44, length) == 0, "the samples arrive unchanged");
  Require(parse.FmtChunk.NumChannels == (data[22] | data[23] << 8) && parse.FmtChunk.SampleRate == LittleEndian32(data + 24),
          "the format fields are read little-endian from their places");
  return 0;
}
