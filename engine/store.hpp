// uStore: the resource store embedded in the kelvo executable. The store is a blob in a
// non-allocated ELF section named ".kelvores"; at run time the executable file is mapped
// read-only and every entry is handed out as a byte view and as a stream. Parsing never
// reads outside the file or the section. Depends on uFatal and uShared.
//
// Store layout (all numbers little-endian, offsets from the start of the blob):
//   0   8   magic "KELVORES"
//   8   4   version (1)
//   12  4   entry count
//   16  32 x count  entry records: name offset u32, name length u32, kind u16,
//                   language u16, reserved u32, data offset u64, data size u64
//   then the names and the data (data aligned to 64 bytes).
// Entries are in strictly ascending byte order of their names.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

inline constexpr std::string_view kStoreSectionName = ".kelvores";
inline constexpr std::uint16_t kResourceKindRCData = 10;
inline constexpr std::uint16_t kResourceLanguage = 1033;

struct TResourceEntry {
  std::string_view Name;
  std::uint16_t Kind = kResourceKindRCData;
  std::uint16_t Language = kResourceLanguage;
  std::span<const std::uint8_t> Bytes;
};

// Sequential access to one entry's bytes.
class TResourceStream {
 public:
  explicit TResourceStream(std::span<const std::uint8_t> bytes) : Bytes(bytes) {}
  // Reads up to count bytes; returns how many arrived.
  std::size_t Read(void* buffer, std::size_t count);
  // Moves to an absolute position (a position past the end makes later reads return 0).
  void Seek(std::uint64_t position) { Position = position; }
  // Reads exactly count bytes, or ends the demo with "Stream read error" (status 217).
  void ReadBuffer(void* buffer, std::size_t count);
  std::uint64_t GetPosition() const { return Position; }
  std::uint64_t Size() const { return Bytes.size(); }

 private:
  std::span<const std::uint8_t> Bytes;
  std::uint64_t Position = 0;
};

// The result of parsing: either the entries or the reason the data is not a store.
struct TStoreParse {
  std::vector<TResourceEntry> Entries;
  std::string Error;  // empty on success
  bool Ok() const { return Error.empty(); }
};

// Parses a store blob; the entries view into blob.
TStoreParse ParseStore(std::span<const std::uint8_t> blob);

// Finds a section of an ELF64 little-endian image by name. On failure returns nothing and
// sets error (a missing section is "no resource store in the executable").
struct TElfSection {
  std::uint64_t HeaderOffset = 0;  // file offset of the section's header record
  std::uint64_t Offset = 0;        // file offset of its contents
  std::uint64_t Size = 0;
};
std::optional<TElfSection> FindElfSection(std::span<const std::uint8_t> image, std::string_view name,
                                          std::string& error);

// One entry to pack.
struct TStoreInput {
  std::string Name;
  std::vector<std::uint8_t> Bytes;
  std::uint16_t Kind = kResourceKindRCData;
  std::uint16_t Language = kResourceLanguage;
};

// Builds a store blob from entries (sorted by name here); returns an error text for
// duplicate or empty names.
std::vector<std::uint8_t> BuildStore(std::vector<TStoreInput> inputs, std::string& error);

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
  const TElfSection& Section() const { return Where; }

 private:
  std::span<const std::uint8_t> File;
  TElfSection Where;
  std::vector<TResourceEntry> Entries;
};
