// uStore: the resource store embedded in the kelvo executable. The store is a blob in a
// section of the program's file (a non-allocated ELF section named ".kelvores", the PE
// section kStorePeSectionName; the formats are told apart by formats.hpp); at run time the executable file is mapped
// read-only and every entry is handed out as a stream of its own (uncompressed) bytes or
// chunk by chunk to a sink. Entries are kept compressed with LZ4 or zstd in independent
// blocks, or raw when compression does not pay. Parsing and decompression never read or
// write outside the file, the section or the caller's buffer; damaged compressed data ends
// the demo with one "[uStore] ERROR: ..." line. The packing side is in build.hpp, which
// only the tools link.
//
// Store layout (all numbers little-endian, offsets from the start of the blob):
//   0   8   magic "KELVORES"
//   8   4   version (2)
//   12  4   entry count
//   16  48 x count  entry records: name offset u32, name length u32, kind u16,
//                   language u16, codec u8 (0 raw, 1 LZ4, 2 zstd), 3 reserved bytes,
//                   data offset u64, stored size u64, size u64 (the entry's own bytes),
//                   block size u32 (bytes of content per block; 0 when raw), reserved u32
//   then the names and the data (data aligned to 64 bytes).
// A raw entry's data is its bytes (stored size = size). A compressed entry's data is a
// table of one u32 per block (the block's compressed length), then the blocks one after
// another; every block holds block size bytes of content, the last one the rest.
// Entries are in strictly ascending byte order of their names.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/facts.hpp"
#include "base/verdict.hpp"
#include "platform/image.hpp"
#include "store/section.hpp"

// A plain value at a byte offset (the store and ELF headers are little-endian, as is the
// machine); the caller has checked that the bytes are there.
template <class T>
T LoadPlain(std::span<const std::uint8_t> bytes, std::size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}
template <class T>
void StorePlain(std::span<std::uint8_t> bytes, std::size_t offset, const T& value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// The store's ELF section is named kStoreSectionName (base/facts.hpp).

// The store's section in a program's file of any format formats.hpp knows: ".kelvores" of
// an ELF file, kStorePeSectionName of a PE one (told apart by the file's first bytes).
std::optional<TImageSection> FindStoreSection(std::span<const std::uint8_t> image, std::string& error);

inline constexpr std::uint16_t kResourceKindRCData = 10;
inline constexpr std::uint16_t kResourceLanguage = 1033;

// How an entry's bytes are kept in the store.
enum class TResourceCodec : std::uint8_t { Raw = 0, LZ4 = 1, Zstd = 2 };
std::string_view CodecName(TResourceCodec codec);

// One entry. Bytes are the stored bytes: the content itself for a raw entry, the block
// table and the blocks for a compressed one. Consumers read the content through
// TResourceStream or StreamEntry, never through Bytes.
struct TResourceEntry {
  std::string_view Name;
  std::uint16_t Kind = kResourceKindRCData;
  std::uint16_t Language = kResourceLanguage;
  std::span<const std::uint8_t> Bytes;
  TResourceCodec Codec = TResourceCodec::Raw;
  std::uint64_t ContentSize = 0;  // compressed entries only; see Size()
  std::uint32_t BlockSize = 0;    // compressed entries only

  // The entry's own (uncompressed) size.
  std::uint64_t Size() const { return Codec == TResourceCodec::Raw ? Bytes.size() : ContentSize; }
  // The number of blocks of a compressed entry.
  std::uint64_t BlockCount() const;
};

// Hands the entry's content to sink in order, in chunks of at most one block, with empty
// chunks never passed. Returns an empty text, or why the stored data is damaged (the
// sink then has had only the chunks before the damage).
using TChunkSink = std::function<void(std::span<const std::uint8_t>)>;
std::string TryStreamEntry(const TResourceEntry& entry, const TChunkSink& sink);
// The same; damaged data ends the demo with one "[uStore] ERROR: ..." line (status 217).
void StreamEntry(const TResourceEntry& entry, const TChunkSink& sink);

// Sequential access to one entry's content. A compressed entry is decompressed block by
// block as it is read: a read that covers whole blocks decompresses them straight into
// the caller's buffer, and only a block read in part goes through a scratch buffer of one
// block. Moving forward skips whole blocks without decompressing them.
class TResourceStream {
 public:
  explicit TResourceStream(const TResourceEntry& entry) : Entry(entry) {}
  // Raw bytes as a stream (what a raw entry of those bytes would give).
  explicit TResourceStream(std::span<const std::uint8_t> bytes) { Entry.Bytes = bytes; }
  // Reads up to count bytes; returns how many arrived. Damaged data ends the demo with
  // one "[uStore] ERROR: ..." line (status 217).
  std::size_t Read(void* buffer, std::size_t count);
  // The same, but damaged data returns false with the reason in error (read has what
  // arrived before it).
  bool TryRead(void* buffer, std::size_t count, std::size_t& read, std::string& error);
  // Moves to an absolute position (a position past the end makes later reads return 0).
  void Seek(std::uint64_t position) { Position = position; }
  // Reads exactly count bytes, or ends the demo with "Stream read error" (status 217).
  void ReadBuffer(void* buffer, std::size_t count);
  std::uint64_t GetPosition() const { return Position; }
  std::uint64_t Size() const { return Entry.Size(); }

 private:
  TResourceEntry Entry;
  std::uint64_t Position = 0;
  std::vector<std::uint8_t> Scratch;        // one decompressed block
  std::uint64_t ScratchBlock = UINT64_MAX;  // which block Scratch holds
  bool CursorReady = false;
  std::uint64_t CursorBlock = 0;   // a block whose stored offset is known ...
  std::uint64_t CursorOffset = 0;  // ... and that offset, from the start of the entry's data
  bool FindBlock(std::uint64_t block, std::span<const std::uint8_t>& stored, std::string& error);
};

// The result of parsing: either the entries or the reason the data is not a store.
struct TStoreParse : TParseVerdict {
  std::vector<TResourceEntry> Entries;
};

// Parses a store blob; the entries view into blob.
TStoreParse ParseStore(std::span<const std::uint8_t> blob);

// The largest block the reader accepts (its scratch buffer is one block).
inline constexpr std::uint32_t kMaxBlockSize = 1u << 20;

// The store of an executable file, mapped read-only for the life of the process.
class TResourceStore {
 public:
  // Opens the store inside the running executable; any failure ends the demo with
  // one "[uStore] ERROR: ..." line and status 217.
  static TResourceStore OpenSelf();
  // Opens the store inside the executable at path; on failure returns nothing and sets error.
  static std::optional<TResourceStore> Open(const std::string& path, std::string& error);

  std::size_t Count() const { return Entries.size(); }
  const TResourceEntry& Entry(std::size_t index) const;
  std::span<const std::uint8_t> Image() const { return File; }
  const TImageSection& Section() const { return Where; }
  // Tells the system that the entry's stored pages will not be read again, so they leave
  // the process's resident memory (they are read back from the file if they are).
  void Release(std::size_t index) const;
  // Asks the system to start reading the whole store from disk in the background.
  void Prefetch() const;

 private:
  // Opens the store inside a mapped executable (nothing when it could not be mapped).
  static std::optional<TResourceStore> Open(std::optional<TMappedFile> file, std::string& error);

  std::span<const std::uint8_t> File;
  const TMappedFile* Mapping = nullptr;  // never unmapped: the entries view into it
  TImageSection Where;
  std::vector<TResourceEntry> Entries;
};
