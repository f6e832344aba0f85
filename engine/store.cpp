// uStore: reading, building and locating the embedded resource store (see store.hpp).
#include "engine/store.hpp"

#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/fatal.hpp"

namespace {

constexpr char kMagic[8] = {'K', 'E', 'L', 'V', 'O', 'R', 'E', 'S'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kRecordSize = 32;
constexpr std::size_t kDataAlignment = 64;

// True when [offset, offset + size) lies inside a region of the given length.
bool Inside(std::uint64_t offset, std::uint64_t size, std::uint64_t length) {
  return offset <= length && size <= length - offset;
}

}  // namespace

std::size_t TResourceStream::Read(void* buffer, std::size_t count) {
  if (Position >= Bytes.size()) return 0;
  std::size_t available = static_cast<std::size_t>(Bytes.size() - Position);
  std::size_t n = std::min(count, available);
  if (n > 0) std::memcpy(buffer, Bytes.data() + Position, n);
  Position += n;
  return n;
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
    auto dataOffset = LoadPlain<std::uint64_t>(blob, record + 16);
    auto dataSize = LoadPlain<std::uint64_t>(blob, record + 24);
    if (nameLength == 0 || !Inside(nameOffset, nameLength, blob.size()))
      return fail("entry " + std::to_string(i) + ": name outside the store");
    if (!Inside(dataOffset, dataSize, blob.size()))
      return fail("entry " + std::to_string(i) + ": data outside the store");
    entry.Name = std::string_view(reinterpret_cast<const char*>(blob.data()) + nameOffset, nameLength);
    entry.Bytes = blob.subspan(static_cast<std::size_t>(dataOffset), static_cast<std::size_t>(dataSize));
    if (!result.Entries.empty() && !(result.Entries.back().Name < entry.Name))
      return fail("entry " + std::to_string(i) + ": names out of order");
    result.Entries.push_back(entry);
  }
  return result;
}

std::optional<TElfSection> FindElfSection(std::span<const std::uint8_t> image, std::string_view name,
                                          std::string& error) {
  auto fail = [&](const char* why) -> std::optional<TElfSection> {
    error = why;
    return std::nullopt;
  };
  if (image.size() < sizeof(Elf64_Ehdr)) return fail("not an ELF file");
  auto header = LoadPlain<Elf64_Ehdr>(image, 0);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
      header.e_ident[EI_DATA] != ELFDATA2LSB)
    return fail("not a 64-bit little-endian ELF file");
  if (header.e_shentsize != sizeof(Elf64_Shdr)) return fail("unexpected ELF section header size");
  if (!Inside(header.e_shoff, std::uint64_t{header.e_shnum} * sizeof(Elf64_Shdr), image.size()))
    return fail("ELF section headers outside the file");
  if (header.e_shstrndx >= header.e_shnum) return fail("ELF section names missing");
  auto section = [&](std::size_t index) {
    return LoadPlain<Elf64_Shdr>(image, static_cast<std::size_t>(header.e_shoff + index * sizeof(Elf64_Shdr)));
  };
  Elf64_Shdr names = section(header.e_shstrndx);
  if (!Inside(names.sh_offset, names.sh_size, image.size())) return fail("ELF section names outside the file");
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr candidate = section(i);
    if (candidate.sh_name >= names.sh_size) continue;
    const char* start = reinterpret_cast<const char*>(image.data() + names.sh_offset + candidate.sh_name);
    std::size_t room = static_cast<std::size_t>(names.sh_size - candidate.sh_name);
    std::size_t length = strnlen(start, room);
    if (length == room || std::string_view(start, length) != name) continue;
    if (candidate.sh_type == SHT_NOBITS || !Inside(candidate.sh_offset, candidate.sh_size, image.size()))
      return fail("resource store section outside the file");
    TElfSection found;
    found.HeaderOffset = header.e_shoff + i * sizeof(Elf64_Shdr);
    found.Offset = candidate.sh_offset;
    found.Size = candidate.sh_size;
    return found;
  }
  return fail("no resource store in the executable");
}

std::vector<std::uint8_t> BuildStore(std::vector<TStoreInput> inputs, std::string& error) {
  std::sort(inputs.begin(), inputs.end(), [](const TStoreInput& a, const TStoreInput& b) { return a.Name < b.Name; });
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (inputs[i].Name.empty()) {
      error = "an entry has an empty name";
      return {};
    }
    if (i > 0 && inputs[i - 1].Name == inputs[i].Name) {
      error = "the name " + inputs[i].Name + " is given twice";
      return {};
    }
  }
  std::size_t size = kHeaderSize + inputs.size() * kRecordSize;
  std::size_t namesAt = size;
  for (const auto& input : inputs) size += input.Name.size();
  std::vector<std::size_t> dataAt;
  for (const auto& input : inputs) {
    size = (size + kDataAlignment - 1) / kDataAlignment * kDataAlignment;
    dataAt.push_back(size);
    size += input.Bytes.size();
  }
  std::vector<std::uint8_t> blob(size, 0);
  std::memcpy(blob.data(), kMagic, sizeof kMagic);
  StorePlain<std::uint32_t>(blob, 8, kVersion);
  StorePlain<std::uint32_t>(blob, 12, Narrow<std::uint32_t>(inputs.size()));
  std::size_t nameCursor = namesAt;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    std::size_t record = kHeaderSize + i * kRecordSize;
    StorePlain<std::uint32_t>(blob, record, Narrow<std::uint32_t>(nameCursor));
    StorePlain<std::uint32_t>(blob, record + 4, Narrow<std::uint32_t>(inputs[i].Name.size()));
    StorePlain<std::uint16_t>(blob, record + 8, inputs[i].Kind);
    StorePlain<std::uint16_t>(blob, record + 10, inputs[i].Language);
    StorePlain<std::uint64_t>(blob, record + 16, dataAt[i]);
    StorePlain<std::uint64_t>(blob, record + 24, inputs[i].Bytes.size());
    std::memcpy(blob.data() + nameCursor, inputs[i].Name.data(), inputs[i].Name.size());
    nameCursor += inputs[i].Name.size();
    if (!inputs[i].Bytes.empty()) std::memcpy(blob.data() + dataAt[i], inputs[i].Bytes.data(), inputs[i].Bytes.size());
  }
  return blob;
}

std::optional<TResourceStore> TResourceStore::Open(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || info.st_size <= 0) {
    close(fd);
    error = "cannot read " + path;
    return std::nullopt;
  }
  auto length = static_cast<std::size_t>(info.st_size);
  void* mapped = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (mapped == MAP_FAILED) {
    error = "cannot map " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  TResourceStore store;
  store.File = {static_cast<const std::uint8_t*>(mapped), length};
  auto section = FindElfSection(store.File, kStoreSectionName, error);
  if (!section) {
    munmap(mapped, length);
    return std::nullopt;
  }
  store.Where = *section;
  auto parsed = ParseStore(store.File.subspan(static_cast<std::size_t>(section->Offset),
                                              static_cast<std::size_t>(section->Size)));
  if (!parsed.Ok()) {
    munmap(mapped, length);
    error = parsed.Error;
    return std::nullopt;
  }
  store.Entries = std::move(parsed.Entries);
  return store;
}

TResourceStore TResourceStore::OpenSelf() {
  std::string error;
  auto store = Open("/proc/self/exe", error);
  if (!store) FatalLine("[uStore] ERROR: " + error, kExitAssertion);
  return std::move(*store);
}

const TResourceEntry& TResourceStore::Entry(std::size_t index) const { return Entries[CheckIndex(index, Entries.size())]; }
