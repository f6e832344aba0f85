// uStore: reading the embedded resource store and streaming its entries (see store.hpp).
#include "store/store.hpp"


#include <lz4.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/fatal.hpp"
#include "base/dynarray.hpp"
#include "platform/image.hpp"
#include "store/layout.hpp"
#include "store/wasm.hpp"

namespace {

std::uint64_t BlockLength(const TResourceEntry& entry, std::uint64_t block) {
  const std::uint64_t start = block * entry.BlockSize;
  return std::min<std::uint64_t>(entry.BlockSize, entry.ContentSize - start);
}

std::string EntryText(const TResourceEntry& entry) { return "entry \"" + std::string(entry.Name) + "\""; }

// One zstd decompression context per thread, made on first use.
ZSTD_DCtx* ZstdContext() {
  thread_local std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
  if (!context) OutOfMemory();
  return context.get();
}

// Decompresses one stored block into exactly length bytes at out; the reason when the
// block does not decompress or gives another length.
std::string DecodeBlock(const TResourceEntry& entry, std::uint64_t block, std::span<const std::uint8_t> stored,
                        std::uint8_t* out, std::uint64_t length) {
  std::uint64_t got = 0;
  if (entry.Codec == TResourceCodec::LZ4) {
    if (stored.size() > static_cast<std::size_t>(LZ4_MAX_INPUT_SIZE)) return EntryText(entry) + ": block too large";
    const int n = LZ4_decompress_safe(reinterpret_cast<const char*>(stored.data()), reinterpret_cast<char*>(out),
                                      static_cast<int>(stored.size()), static_cast<int>(length));
    if (n < 0) return EntryText(entry) + ": block " + std::to_string(block) + " does not decompress (LZ4)";
    got = static_cast<std::uint64_t>(n);
  } else {
    const std::size_t n = ZSTD_decompressDCtx(ZstdContext(), out, static_cast<std::size_t>(length), stored.data(),
                                              stored.size());
    if (ZSTD_isError(n))
      return EntryText(entry) + ": block " + std::to_string(block) + " does not decompress (zstd: " +
             ZSTD_getErrorName(n) + ")";
    got = n;
  }
  if (got != length)
    return EntryText(entry) + ": block " + std::to_string(block) + " decompresses to " + std::to_string(got) +
           " bytes instead of " + std::to_string(length);
  return {};
}

std::uint32_t BlockStoredLength(const TResourceEntry& entry, std::uint64_t block) {
  return LoadPlain<std::uint32_t>(entry.Bytes, static_cast<std::size_t>(block * 4));
}

}  // namespace

std::string_view CodecName(TResourceCodec codec) {
  switch (codec) {
    case TResourceCodec::Raw: return "raw";
    case TResourceCodec::LZ4: return "lz4";
    case TResourceCodec::Zstd: return "zstd";
  }
  return "unknown";
}

std::uint64_t TResourceEntry::BlockCount() const {
  if (Codec == TResourceCodec::Raw || BlockSize == 0) return 0;
  return ContentSize / BlockSize + (ContentSize % BlockSize != 0 ? 1 : 0);
}

std::string TryStreamEntry(const TResourceEntry& entry, const TChunkSink& sink) {
  if (entry.Codec == TResourceCodec::Raw) {
    // Whole blocks' worth at a time, so a sink that writes a file writes in steps.
    for (std::size_t at = 0; at < entry.Bytes.size(); at += kMaxBlockSize)
      sink(entry.Bytes.subspan(at, std::min<std::size_t>(kMaxBlockSize, entry.Bytes.size() - at)));
    return {};
  }
  const std::uint64_t blocks = entry.BlockCount();
  std::vector<std::uint8_t> scratch(static_cast<std::size_t>(std::min<std::uint64_t>(entry.BlockSize, entry.ContentSize)));
  std::uint64_t offset = blocks * 4;
  for (std::uint64_t block = 0; block < blocks; ++block) {
    const std::uint32_t stored = BlockStoredLength(entry, block);
    const std::uint64_t length = BlockLength(entry, block);
    std::string error = DecodeBlock(entry, block, entry.Bytes.subspan(static_cast<std::size_t>(offset), stored),
                                    scratch.data(), length);
    if (!error.empty()) return error;
    sink(std::span<const std::uint8_t>(scratch.data(), static_cast<std::size_t>(length)));
    offset += stored;
  }
  return {};
}

void StreamEntry(const TResourceEntry& entry, const TChunkSink& sink) {
  std::string error = TryStreamEntry(entry, sink);
  if (!error.empty()) FatalLine("[uStore] ERROR: " + error, kExitAssertion);
}

bool TResourceStream::FindBlock(std::uint64_t block, std::span<const std::uint8_t>& stored, std::string& error) {
  // The stored offsets are known only by adding up the table; reads go forward, so the
  // sum is carried along, and started over for a block before the last one found.
  if (!CursorReady || block < CursorBlock) {
    CursorBlock = 0;
    CursorOffset = Entry.BlockCount() * 4;
    CursorReady = true;
  }
  while (CursorBlock < block) CursorOffset += BlockStoredLength(Entry, CursorBlock++);
  const std::uint32_t length = BlockStoredLength(Entry, block);
  // The parse checked that the table adds up to the stored size, so this cannot fail;
  // the check stays for a stream made from an entry that was not parsed.
  if (CursorOffset > Entry.Bytes.size() || length > Entry.Bytes.size() - CursorOffset) {
    error = EntryText(Entry) + ": block " + std::to_string(block) + " outside the entry";
    return false;
  }
  stored = Entry.Bytes.subspan(static_cast<std::size_t>(CursorOffset), length);
  return true;
}

bool TResourceStream::TryRead(void* buffer, std::size_t count, std::size_t& read, std::string& error) {
  read = 0;
  const std::uint64_t size = Entry.Size();
  if (Position >= size) return true;
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, size - Position));
  auto* out = static_cast<std::uint8_t*>(buffer);
  if (Entry.Codec == TResourceCodec::Raw) {
    if (n > 0) std::memcpy(out, Entry.Bytes.data() + Position, n);
    Position += n;
    read = n;
    return true;
  }
  while (read < n) {
    const std::uint64_t block = Position / Entry.BlockSize;
    const std::uint64_t blockStart = block * Entry.BlockSize;
    const std::uint64_t length = BlockLength(Entry, block);
    const std::uint64_t within = Position - blockStart;
    const std::uint64_t take = std::min<std::uint64_t>(length - within, n - read);
    if (ScratchBlock != block) {
      std::span<const std::uint8_t> stored;
      if (!FindBlock(block, stored, error)) return false;
      if (within == 0 && take == length) {
        // The whole block is wanted: straight into the caller's buffer.
        error = DecodeBlock(Entry, block, stored, out + read, length);
        if (!error.empty()) return false;
        read += static_cast<std::size_t>(take);
        Position += take;
        continue;
      }
      Scratch.resize(static_cast<std::size_t>(Entry.BlockSize));
      ScratchBlock = UINT64_MAX;
      error = DecodeBlock(Entry, block, stored, Scratch.data(), length);
      if (!error.empty()) return false;
      ScratchBlock = block;
    }
    std::memcpy(out + read, Scratch.data() + within, static_cast<std::size_t>(take));
    read += static_cast<std::size_t>(take);
    Position += take;
  }
  return true;
}

std::size_t TResourceStream::Read(void* buffer, std::size_t count) {
  std::size_t read = 0;
  std::string error;
  if (!TryRead(buffer, count, read, error)) FatalLine("[uStore] ERROR: " + error, kExitAssertion);
  return read;
}

void TResourceStream::ReadBuffer(void* buffer, std::size_t count) {
  if (Read(buffer, count) != count) FatalLine("Stream read error", kExitAssertion);
}

TStoreParse ParseStore(std::span<const std::uint8_t> blob) {
  TStoreParse result;
  auto fail = [&](std::string why) {
    result.Entries.clear();
    result.Error = std::move(why);
    return result;
  };
  if (blob.size() < kHeaderSize) return fail("store header cut short");
  if (std::memcmp(blob.data(), kMagic, sizeof kMagic) != 0) return fail("store signature missing");
  if (LoadPlain<std::uint32_t>(blob, 8) != kVersion) return fail("unknown store version");
  std::uint64_t count = LoadPlain<std::uint32_t>(blob, 12);
  if (count > (blob.size() - kHeaderSize) / kRecordSize) return fail("entry count does not fit the store");
  result.Entries.reserve(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t record = kHeaderSize + i * kRecordSize;
    auto nameOffset = LoadPlain<std::uint32_t>(blob, record);
    auto nameLength = LoadPlain<std::uint32_t>(blob, record + 4);
    TResourceEntry entry;
    entry.Kind = LoadPlain<std::uint16_t>(blob, record + 8);
    entry.Language = LoadPlain<std::uint16_t>(blob, record + 10);
    auto codec = LoadPlain<std::uint8_t>(blob, record + 12);
    auto dataOffset = LoadPlain<std::uint64_t>(blob, record + 16);
    auto dataSize = LoadPlain<std::uint64_t>(blob, record + 24);
    auto contentSize = LoadPlain<std::uint64_t>(blob, record + 32);
    auto blockSize = LoadPlain<std::uint32_t>(blob, record + 40);
    const std::string which = "entry " + std::to_string(i);
    if (nameLength == 0 || !Inside(nameOffset, nameLength, blob.size())) return fail(which + ": name outside the store");
    if (!Inside(dataOffset, dataSize, blob.size())) return fail(which + ": data outside the store");
    entry.Name = std::string_view(reinterpret_cast<const char*>(blob.data()) + nameOffset, nameLength);
    entry.Bytes = blob.subspan(static_cast<std::size_t>(dataOffset), static_cast<std::size_t>(dataSize));
    if (!result.Entries.empty() && !(result.Entries.back().Name < entry.Name))
      return fail(which + ": names out of order");
    if (codec > static_cast<std::uint8_t>(TResourceCodec::Zstd)) return fail(which + ": unknown codec");
    entry.Codec = static_cast<TResourceCodec>(codec);
    if (entry.Codec == TResourceCodec::Raw) {
      if (contentSize != dataSize) return fail(which + ": raw entry whose size is not its stored size");
    } else {
      // The block table must be there and add up to exactly the stored size, so every
      // block read later lies inside the entry.
      if (blockSize == 0 || blockSize > kMaxBlockSize) return fail(which + ": block size out of range");
      if (contentSize > UINT32_MAX) return fail(which + ": entry larger than 4 GiB");
      entry.ContentSize = contentSize;
      entry.BlockSize = blockSize;
      const std::uint64_t blocks = entry.BlockCount();
      if (blocks > dataSize / 4) return fail(which + ": block table cut short");
      std::uint64_t total = blocks * 4;
      for (std::uint64_t block = 0; block < blocks; ++block) {
        const auto length = LoadPlain<std::uint32_t>(entry.Bytes, static_cast<std::size_t>(block * 4));
        if (length == 0) return fail(which + ": empty block");
        total += length;
        if (total > dataSize) return fail(which + ": blocks beyond the entry");
      }
      if (total != dataSize) return fail(which + ": blocks do not fill the entry");
    }
    result.Entries.push_back(entry);
  }
  return result;
}

namespace {

// Every store's mapping, kept for the life of the process (entries and their copies view into
// it); held here rather than leaked, so that leak checkers see it kept.
std::vector<std::unique_ptr<TMappedFile>>& KeptMappings() {
  static std::vector<std::unique_ptr<TMappedFile>> mappings;
  return mappings;
}

}  // namespace

std::optional<TElfSection> FindStoreSection(std::span<const std::uint8_t> image, std::string& error) {
  if (LooksLikePe(image)) return FindPeSection(image, kStorePeSectionName, error);
  if (LooksLikeWasm(image)) return FindWasmSection(image, kStoreSectionName, error);
  return FindElfSection(image, kStoreSectionName, error);
}

std::optional<TResourceStore> TResourceStore::Open(std::optional<TMappedFile> file, std::string& error) {
  if (!file) return std::nullopt;
  TResourceStore store;
  store.File = file->Bytes();
  auto section = FindStoreSection(store.File, error);
  if (!section) return std::nullopt;
  store.Where = *section;
  auto parsed = ParseStore(store.File.subspan(static_cast<std::size_t>(section->Offset),
                                              static_cast<std::size_t>(section->Size)));
  if (!parsed.Ok()) {
    error = parsed.Error;
    return std::nullopt;
  }
  store.Entries = std::move(parsed.Entries);
  // The entries view into the mapping, which stays for the life of the process.
  KeptMappings().push_back(std::make_unique<TMappedFile>(std::move(*file)));
  store.Mapping = KeptMappings().back().get();
  return store;
}

std::optional<TResourceStore> TResourceStore::Open(const std::string& path, std::string& error) {
  return Open(TMappedFile::Open(path, error), error);
}

TResourceStore TResourceStore::OpenSelf() {
  std::string error;
  auto store = Open(TMappedFile::OpenSelf(error), error);
  if (!store) FatalLine("[uStore] ERROR: " + error, kExitAssertion);
  return std::move(*store);
}

const TResourceEntry& TResourceStore::Entry(std::size_t index) const { return Entries[CheckIndex(index, Entries.size())]; }

void TResourceStore::Release(std::size_t index) const { Mapping->Release(Entry(index).Bytes); }

void TResourceStore::Prefetch() const {
  Mapping->Prefetch(File.subspan(static_cast<std::size_t>(Where.Offset), static_cast<std::size_t>(Where.Size)));
}
