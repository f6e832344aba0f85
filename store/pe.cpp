// uStore: finding and replacing a section of a PE32+ image (see pe.hpp).
#include "store/pe.hpp"

#include <algorithm>
#include <cstring>

#include "store/layout.hpp"
#include "store/store.hpp"

namespace {

// The fixed places of the PE32+ format.
constexpr std::size_t kDosNewHeaderField = 0x3C;  // e_lfanew: where "PE\0\0" is
constexpr std::size_t kFileHeaderSize = 20;       // the COFF header after the signature
constexpr std::size_t kSectionRecordSize = 40;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
// Offsets inside the PE32+ optional header.
constexpr std::size_t kSectionAlignmentField = 32;
constexpr std::size_t kFileAlignmentField = 36;
constexpr std::size_t kSizeOfInitializedDataField = 8;
constexpr std::size_t kSizeOfImageField = 56;
constexpr std::size_t kSizeOfHeadersField = 60;
constexpr std::size_t kCheckSumField = 64;
constexpr std::size_t kDirectoryCountField = 108;
constexpr std::size_t kDirectoriesField = 112;
constexpr std::size_t kCertificateDirectory = 4;  // the Authenticode signature
constexpr std::size_t kOptionalHeaderMinimum = kDirectoriesField;
constexpr std::size_t kMaxSections = 96;  // the most the Windows loader takes
// The store's section: initialised data, read-only, not needed once loaded.
constexpr std::uint32_t kStoreSectionCharacteristics = 0x00000040 | 0x40000000 | 0x02000000;

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return LoadPlain<std::uint16_t>(bytes, at);
}
std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return LoadPlain<std::uint32_t>(bytes, at);
}

// True when nothing but zero bytes follows the first `from` bytes of the image.
bool OnlyZerosFrom(std::span<const std::uint8_t> image, std::uint64_t from) {
  return from <= image.size() && std::all_of(image.begin() + static_cast<std::ptrdiff_t>(from), image.end(),
                                             [](std::uint8_t b) { return b == 0; });
}

// One section's header record, as read.
struct TRecord {
  char Name[8];
  std::uint32_t VirtualSize;
  std::uint32_t VirtualAddress;
  std::uint32_t SizeOfRawData;
  std::uint32_t PointerToRawData;
};

TRecord ReadRecord(std::span<const std::uint8_t> image, std::size_t at) {
  TRecord record{};
  std::memcpy(record.Name, image.data() + at, 8);
  record.VirtualSize = Read32(image, at + 8);
  record.VirtualAddress = Read32(image, at + 12);
  record.SizeOfRawData = Read32(image, at + 16);
  record.PointerToRawData = Read32(image, at + 20);
  return record;
}

// The bytes of a section's contents in the file: the virtual size where it is the smaller
// (the raw size is padded to the file alignment), the raw size where it is not given.
std::uint32_t ContentSize(const TRecord& record) {
  if (record.VirtualSize == 0) return record.SizeOfRawData;
  return std::min(record.VirtualSize, record.SizeOfRawData);
}

// Where the headers of a checked PE32+ image are.
struct THeaders {
  std::size_t OptionalHeader = 0;
  std::size_t OptionalHeaderSize = 0;
  std::size_t Sections = 0;  // the first section record
  std::size_t SectionCount = 0;
  std::size_t SectionCountField = 0;
};

std::optional<THeaders> ReadHeaders(std::span<const std::uint8_t> image, std::string& error) {
  auto fail = [&](const char* why) -> std::optional<THeaders> {
    error = why;
    return std::nullopt;
  };
  if (!LooksLikePe(image) || image.size() < kDosNewHeaderField + 4) return fail("not a PE file");
  const std::uint32_t peHeader = Read32(image, kDosNewHeaderField);
  if (!Inside(peHeader, 4 + kFileHeaderSize, image.size())) return fail("PE header outside the file");
  if (std::memcmp(image.data() + peHeader, "PE\0\0", 4) != 0) return fail("not a PE file");
  THeaders headers;
  headers.SectionCountField = peHeader + 4 + 2;
  headers.SectionCount = Read16(image, headers.SectionCountField);
  headers.OptionalHeaderSize = Read16(image, peHeader + 4 + 16);
  headers.OptionalHeader = peHeader + 4 + kFileHeaderSize;
  if (headers.OptionalHeaderSize < kOptionalHeaderMinimum ||
      !Inside(headers.OptionalHeader, headers.OptionalHeaderSize, image.size()))
    return fail("PE optional header outside the file");
  if (Read16(image, headers.OptionalHeader) != kPe32PlusMagic) return fail("not a 64-bit (PE32+) executable");
  headers.Sections = headers.OptionalHeader + headers.OptionalHeaderSize;
  if (!Inside(headers.Sections, std::uint64_t{headers.SectionCount} * kSectionRecordSize, image.size()))
    return fail("PE section headers outside the file");
  return headers;
}

std::uint32_t AlignUp(std::uint64_t value, std::uint32_t alignment) {
  return static_cast<std::uint32_t>((value + alignment - 1) / alignment * alignment);
}

bool PowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

bool LooksLikePe(std::span<const std::uint8_t> image) {
  return image.size() >= 2 && image[0] == 'M' && image[1] == 'Z';
}

std::optional<TImageSection> FindPeSection(std::span<const std::uint8_t> image, std::string_view name,
                                         std::string& error) {
  const std::optional<THeaders> headers = ReadHeaders(image, error);
  if (!headers) return std::nullopt;
  if (name.empty() || name.size() > 8) {
    error = "no resource store in the executable";
    return std::nullopt;
  }
  for (std::size_t i = 0; i < headers->SectionCount; ++i) {
    const std::size_t at = headers->Sections + i * kSectionRecordSize;
    const TRecord record = ReadRecord(image, at);
    // Eight bytes, padded with NULs where the name is shorter.
    const std::string_view recorded(record.Name, strnlen(record.Name, sizeof record.Name));
    if (recorded != name) continue;
    const std::uint32_t size = ContentSize(record);
    if (size == 0 || !Inside(record.PointerToRawData, size, image.size())) {
      error = "resource store section outside the file";
      return std::nullopt;
    }
    TImageSection found;
    found.HeaderOffset = at;
    found.Offset = record.PointerToRawData;
    found.Size = size;
    return found;
  }
  error = "no resource store in the executable";
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> AddPeSection(std::span<const std::uint8_t> image, std::string_view name,
                                                      std::span<const std::uint8_t> contents, std::string& error) {
  auto fail = [&](const std::string& why) -> std::optional<std::vector<std::uint8_t>> {
    error = why;
    return std::nullopt;
  };
  const std::optional<THeaders> headers = ReadHeaders(image, error);
  if (!headers) return std::nullopt;
  if (name.empty() || name.size() > 8) return fail("a section name has one to eight bytes");
  const std::size_t optional = headers->OptionalHeader;
  const std::uint32_t fileAlignment = Read32(image, optional + kFileAlignmentField);
  const std::uint32_t sectionAlignment = Read32(image, optional + kSectionAlignmentField);
  if (!PowerOfTwo(fileAlignment) || !PowerOfTwo(sectionAlignment)) return fail("PE alignments are not powers of two");

  // The new section goes after every other, in memory and in the file; its header record
  // after the others', where the headers have room before the first section's bytes.
  std::uint64_t memoryEnd = 0;
  std::uint64_t fileEnd = Read32(image, optional + kSizeOfHeadersField);
  std::uint64_t firstRaw = UINT64_MAX;
  for (std::size_t i = 0; i < headers->SectionCount; ++i) {
    const TRecord record = ReadRecord(image, headers->Sections + i * kSectionRecordSize);
    if (std::string_view(record.Name, strnlen(record.Name, sizeof record.Name)) == name)
      return fail("the executable has a section " + std::string(name) + " already");
    memoryEnd = std::max<std::uint64_t>(memoryEnd, std::uint64_t{record.VirtualAddress} +
                                                       std::max(record.VirtualSize, record.SizeOfRawData));
    if (record.SizeOfRawData > 0) {
      fileEnd = std::max<std::uint64_t>(fileEnd, std::uint64_t{record.PointerToRawData} + record.SizeOfRawData);
      firstRaw = std::min<std::uint64_t>(firstRaw, record.PointerToRawData);
    }
  }
  const std::size_t recordAt = headers->Sections + headers->SectionCount * kSectionRecordSize;
  if (headers->SectionCount >= kMaxSections ||
      recordAt + kSectionRecordSize > std::min<std::uint64_t>(firstRaw, Read32(image, optional + kSizeOfHeadersField)))
    return fail("no room for another section header");
  if (!OnlyZerosFrom(image, fileEnd))
    return fail("data lies behind the last section; cannot add one");

  const std::uint64_t address = (memoryEnd + sectionAlignment - 1) / sectionAlignment * sectionAlignment;
  const std::uint64_t rawAt = (fileEnd + fileAlignment - 1) / fileAlignment * fileAlignment;
  const std::uint64_t rawSize = (std::uint64_t{contents.size()} + fileAlignment - 1) / fileAlignment * fileAlignment;
  if (contents.empty() || address + contents.size() + sectionAlignment > UINT32_MAX || rawAt + rawSize > UINT32_MAX)
    return fail("the resource store does not fit a PE section");

  std::vector<std::uint8_t> out(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(fileEnd));
  out.resize(static_cast<std::size_t>(rawAt), 0);
  out.insert(out.end(), contents.begin(), contents.end());
  out.resize(static_cast<std::size_t>(rawAt + rawSize), 0);
  std::span<std::uint8_t> bytes(out);
  char recordName[8] = {};
  std::memcpy(recordName, name.data(), name.size());
  std::memcpy(bytes.data() + recordAt, recordName, sizeof recordName);
  StorePlain(bytes, recordAt + 8, static_cast<std::uint32_t>(contents.size()));
  StorePlain(bytes, recordAt + 12, static_cast<std::uint32_t>(address));
  StorePlain(bytes, recordAt + 16, static_cast<std::uint32_t>(rawSize));
  StorePlain(bytes, recordAt + 20, static_cast<std::uint32_t>(rawAt));
  std::memset(bytes.data() + recordAt + 24, 0, 12);  // no relocations or line numbers
  StorePlain(bytes, recordAt + 36, kStoreSectionCharacteristics);
  StorePlain(bytes, headers->SectionCountField, static_cast<std::uint16_t>(headers->SectionCount + 1));
  StorePlain(bytes, optional + kSizeOfInitializedDataField,
             static_cast<std::uint32_t>(Read32(bytes, optional + kSizeOfInitializedDataField) + rawSize));
  StorePlain(bytes, optional + kSizeOfImageField, AlignUp(address + contents.size(), sectionAlignment));
  if (Read32(bytes, optional + kCheckSumField) != 0) {
    StorePlain(bytes, optional + kCheckSumField, PeChecksum(bytes, optional + kCheckSumField));
  }
  return out;
}

std::uint32_t PeChecksum(std::span<const std::uint8_t> image, std::size_t checksumOffset) {
  std::uint64_t sum = 0;
  for (std::size_t at = 0; at < image.size(); at += 2) {
    if (at >= checksumOffset && at < checksumOffset + 4) continue;
    std::uint32_t word = image[at];
    if (at + 1 < image.size()) word |= std::uint32_t{image[at + 1]} << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + image.size());
}

std::optional<std::vector<std::uint8_t>> ReplacePeSection(std::span<const std::uint8_t> image,
                                                          const TImageSection& section,
                                                          std::span<const std::uint8_t> contents, std::string& error) {
  auto fail = [&](const char* why) -> std::optional<std::vector<std::uint8_t>> {
    error = why;
    return std::nullopt;
  };
  const std::optional<THeaders> headers = ReadHeaders(image, error);
  if (!headers) return std::nullopt;
  const std::size_t optional = headers->OptionalHeader;
  const std::uint32_t fileAlignment = Read32(image, optional + kFileAlignmentField);
  const std::uint32_t sectionAlignment = Read32(image, optional + kSectionAlignmentField);
  if (!PowerOfTwo(fileAlignment) || !PowerOfTwo(sectionAlignment)) return fail("PE alignments are not powers of two");
  if (section.HeaderOffset < headers->Sections ||
      section.HeaderOffset >= headers->Sections + headers->SectionCount * kSectionRecordSize ||
      (section.HeaderOffset - headers->Sections) % kSectionRecordSize != 0)
    return fail("not a section of this file");
  const auto recordAt = static_cast<std::size_t>(section.HeaderOffset);
  const TRecord store = ReadRecord(image, recordAt);
  if (store.PointerToRawData > image.size()) return fail("resource store section outside the file");

  // Only the last section can change its size: any other's place in memory would move.
  const std::uint64_t storeEnd = std::uint64_t{store.PointerToRawData} + store.SizeOfRawData;
  for (std::size_t i = 0; i < headers->SectionCount; ++i) {
    const std::size_t at = headers->Sections + i * kSectionRecordSize;
    if (at == recordAt) continue;
    const TRecord other = ReadRecord(image, at);
    if (other.VirtualAddress > store.VirtualAddress ||
        (other.SizeOfRawData > 0 && other.PointerToRawData >= store.PointerToRawData))
      return fail("a section lies behind the resource store; cannot rewrite this file");
  }
  const std::uint32_t directories = Read32(image, optional + kDirectoryCountField);
  const std::size_t certificate = optional + kDirectoriesField + kCertificateDirectory * 8;
  if (directories > kCertificateDirectory && certificate + 8 <= optional + headers->OptionalHeaderSize &&
      Read32(image, certificate + 4) != 0)
    return fail("the executable is signed; its resource store cannot be rewritten");
  const std::size_t keep = std::min<std::uint64_t>(storeEnd, image.size());
  if (!OnlyZerosFrom(image, keep))
    return fail("data lies behind the resource store; cannot rewrite this file");

  const std::uint64_t rawSize = (std::uint64_t{contents.size()} + fileAlignment - 1) / fileAlignment * fileAlignment;
  const std::uint64_t imageEnd = std::uint64_t{store.VirtualAddress} + contents.size();
  if (contents.empty() || rawSize > UINT32_MAX || imageEnd + sectionAlignment > UINT32_MAX ||
      std::uint64_t{store.PointerToRawData} + rawSize > UINT32_MAX)
    return fail("the resource store does not fit a PE section");

  std::vector<std::uint8_t> out(image.begin(), image.begin() + store.PointerToRawData);
  out.insert(out.end(), contents.begin(), contents.end());
  out.resize(static_cast<std::size_t>(store.PointerToRawData + rawSize), 0);
  std::span<std::uint8_t> bytes(out);
  StorePlain(bytes, recordAt + 8, static_cast<std::uint32_t>(contents.size()));   // VirtualSize
  StorePlain(bytes, recordAt + 16, static_cast<std::uint32_t>(rawSize));          // SizeOfRawData
  StorePlain(bytes, optional + kSizeOfImageField, AlignUp(imageEnd, sectionAlignment));
  if (Read32(bytes, optional + kCheckSumField) != 0) {
    StorePlain(bytes, optional + kCheckSumField, PeChecksum(bytes, optional + kCheckSumField));
  }
  return out;
}
