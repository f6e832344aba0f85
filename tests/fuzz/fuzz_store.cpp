// Fuzz target: the store reader. Bytes that begin like a program file of one of the
// container formats (ELF, PE, WebAssembly) go through that format's section search first and
// the store is then read from the section found; any other bytes are read as a store blob
// directly. Whatever is accepted must lie inside the input: every entry's
// name and stored bytes, and the names come in strictly ascending order. Every entry is then
// read whole twice, through its stream in uneven steps and through the chunk sink, which
// decompresses LZ4 and zstd blocks: both must agree, give exactly the entry's size or fail
// with a reason at the same place, and never touch memory outside their buffers (the
// sanitizers watch).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "store/formats.hpp"
#include "store/store.hpp"
#include "tests/fuzz/fuzz_check.hpp"

namespace {

bool Inside(std::span<const std::uint8_t> part, std::span<const std::uint8_t> whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  std::span<const std::uint8_t> blob = input;
  // The last format (ELF) has no test of its own: it reads every file the others do not claim.
  const TImageFormat& format = ImageFormatOf(input);
  if (format.Recognises != nullptr || (size >= 4 && std::memcmp(data, "\x7f" "ELF", 4) == 0)) {
    std::string error;
    const std::optional<TImageSection> section = format.FindStore(input, error);
    if (!section) {
      Require(!error.empty(), "a failed section search says why");
      return 0;
    }
    Require(section->Offset <= size && section->Size <= size - section->Offset, "the section lies inside the file");
    Require(section->HeaderOffset < size, "the section's header record lies inside the file");
    blob = input.subspan(static_cast<std::size_t>(section->Offset), static_cast<std::size_t>(section->Size));
  }

  const TStoreParse parsed = ParseStore(blob);
  if (!parsed.Ok()) {
    Require(parsed.Entries.empty(), "a rejected store hands out no entries");
    return 0;
  }
  for (std::size_t i = 0; i < parsed.Entries.size(); ++i) {
    const TResourceEntry& entry = parsed.Entries[i];
    const std::span<const std::uint8_t> name(reinterpret_cast<const std::uint8_t*>(entry.Name.data()),
                                             entry.Name.size());
    Require(!entry.Name.empty() && Inside(name, blob), "an entry's name lies inside the store");
    Require(Inside(entry.Bytes, blob), "an entry's bytes lie inside the store");
    Require(i == 0 || parsed.Entries[i - 1].Name < entry.Name, "names come in strictly ascending order");
    Require(entry.Codec != TResourceCodec::Raw || entry.Size() == entry.Bytes.size(), "a raw entry is its bytes");
    Require(entry.Codec == TResourceCodec::Raw || (entry.BlockSize > 0 && entry.BlockSize <= kMaxBlockSize),
            "a compressed entry's blocks fit the scratch buffer");
    // A few hundred bytes of blocks can claim (and really decompress to) many megabytes:
    // large entries go through the sink only, counted rather than kept.
    const bool keep = entry.Size() <= (std::uint64_t{4} << 20);
    std::vector<std::uint8_t> streamed;
    std::uint64_t total = 0;
    const std::string sinkError = TryStreamEntry(entry, [&](std::span<const std::uint8_t> chunk) {
      Require(!chunk.empty() && chunk.size() <= std::max<std::uint64_t>(entry.BlockSize, kMaxBlockSize),
              "chunks are non-empty and at most a block");
      total += chunk.size();
      if (keep) streamed.insert(streamed.end(), chunk.begin(), chunk.end());
    });
    Require(sinkError.empty() ? total == entry.Size() : total < entry.Size(),
            "the sink gets the whole entry, or less and a reason");
    if (!keep) continue;

    // The stream in steps of 1, 13, a block and the rest, as the picture loader reads.
    TResourceStream stream(entry);
    std::vector<std::uint8_t> read(static_cast<std::size_t>(entry.Size()) + 1);
    std::size_t at = 0;
    std::string readError;
    bool ok = true;
    for (std::size_t step : {std::size_t{1}, std::size_t{13}, std::size_t{entry.BlockSize}, read.size()}) {
      std::size_t got = 0;
      ok = stream.TryRead(read.data() + at, std::min(step, read.size() - at), got, readError);
      at += got;
      if (!ok) break;
    }
    Require(ok == sinkError.empty(), "stream and sink agree on damage");
    if (ok) {
      Require(at == entry.Size(), "an entry's stream gives all its bytes");
      Require(std::equal(streamed.begin(), streamed.end(), read.begin()), "stream and sink give the same bytes");
      if (entry.Codec == TResourceCodec::Raw)
        Require(entry.Bytes.empty() || std::memcmp(read.data(), entry.Bytes.data(), entry.Bytes.size()) == 0,
                "a raw entry's stream gives its bytes unchanged");
      std::uint8_t beyond = 0;
      std::size_t got = 1;
      Require(stream.TryRead(&beyond, 1, got, readError) && got == 0, "an entry's stream ends with the entry");
      // Back to the start and a read of the last byte alone.
      if (entry.Size() > 0) {
        stream.Seek(entry.Size() - 1);
        Require(stream.TryRead(&beyond, 1, got, readError) && got == 1 && beyond == read[at - 1],
                "a seek back gives the byte at that place");
      }
    } else {
      Require(!readError.empty(), "a failed read says why");
    }
  }
  return 0;
}
