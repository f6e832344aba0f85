// kelvo-res: the resource-store tool. Lists and extracts the entries embedded in a kelvo
// executable (extract gives back the entry's own bytes, decompressed), packs files into a
// store blob (used by the build), writes a copy of an executable whose store has entries
// replaced, added or removed, and gives a Windows executable its store (the last step of
// that build). Linux (ELF) and Windows (PE) executables alike: an edit rewrites the store's
// section in place at the end of the file. Packed entries are compressed with the codec
// given before them (LZ4 by default) in blocks of 256 KiB, and kept raw when that does not
// gain; entries an edit leaves alone keep their stored form.
#include <elf.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "store/build.hpp"
#include "store/pe.hpp"
#include "store/store.hpp"
#include "store/formats/wasm.hpp"
#include "base/files.hpp"

namespace {

int Usage() {
  std::cerr << "usage:\n"
               "  kelvo-res list EXE\n"
               "  kelvo-res extract EXE NAME OUT\n"
               "  kelvo-res pack OUT [--codec lz4|zstd|raw] NAME=FILE...\n"
               "  kelvo-res edit EXE OUT [--codec lz4|zstd|raw] [--set NAME=FILE]... [--remove NAME]...\n"
               "  kelvo-res embed EXE STORE OUT   (a Windows executable or a WebAssembly module without a store\n"
               "                                  gets the packed STORE)\n"
               "(--codec applies to the entries after it; lz4 unless given)\n";
  return 2;
}

int Fail(const std::string& message) {
  std::cerr << "kelvo-res: " << message << "\n";
  return 1;
}

constexpr std::uint32_t kBlockSize = 256 * 1024;

std::optional<TResourceCodec> ParseCodec(const std::string& text) {
  if (text == "lz4") return TResourceCodec::LZ4;
  if (text == "zstd") return TResourceCodec::Zstd;
  if (text == "raw") return TResourceCodec::Raw;
  return std::nullopt;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Splits "NAME=FILE" into its two halves.
bool SplitAssignment(const std::string& text, std::string& name, std::string& file) {
  auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  name = text.substr(0, eq);
  file = text.substr(eq + 1);
  return true;
}

// Replaces the contents of the store section: the old contents are cut out (in whole
// pages, so every later section keeps its alignment), later offsets move down, and the new
// store is appended page-aligned at the end of the file.
std::optional<std::vector<std::uint8_t>> ReplaceSection(const std::vector<std::uint8_t>& image,
                                                        const TImageSection& section,
                                                        const std::vector<std::uint8_t>& blob, std::string& error) {
  auto header = LoadPlain<Elf64_Ehdr>(image, 0);
  std::uint64_t cutStart = section.Offset;
  std::uint64_t cutSize = section.Size / 4096 * 4096;
  std::uint64_t cutEnd = cutStart + cutSize;
  for (std::size_t i = 0; i < header.e_phnum; ++i) {
    std::size_t at = static_cast<std::size_t>(header.e_phoff + i * sizeof(Elf64_Phdr));
    if (at + sizeof(Elf64_Phdr) > image.size()) break;
    auto program = LoadPlain<Elf64_Phdr>(image, at);
    if (program.p_filesz > 0 && program.p_offset + program.p_filesz > cutStart) {
      error = "a loaded segment lies behind the resource store; cannot rewrite this file";
      return std::nullopt;
    }
  }
  std::vector<std::uint8_t> out;
  out.reserve(image.size() - cutSize + blob.size() + 4096);
  out.insert(out.end(), image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cutStart));
  out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(cutEnd), image.end());
  auto shoff = header.e_shoff >= cutEnd ? header.e_shoff - cutSize : header.e_shoff;
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    std::size_t at = static_cast<std::size_t>(shoff + i * sizeof(Elf64_Shdr));
    auto record = LoadPlain<Elf64_Shdr>(out, at);
    if (record.sh_type != SHT_NOBITS && record.sh_offset >= cutEnd) record.sh_offset -= cutSize;
    StorePlain(out, at, record);
  }
  header.e_shoff = shoff;
  StorePlain(out, 0, header);
  out.resize((out.size() + 4095) / 4096 * 4096, 0);
  std::uint64_t blobAt = out.size();
  out.insert(out.end(), blob.begin(), blob.end());
  std::uint64_t recordAt = section.HeaderOffset >= cutEnd ? section.HeaderOffset - cutSize : section.HeaderOffset;
  auto record = LoadPlain<Elf64_Shdr>(out, static_cast<std::size_t>(recordAt));
  record.sh_offset = blobAt;
  record.sh_size = blob.size();
  StorePlain(out, static_cast<std::size_t>(recordAt), record);
  return out;
}

int List(const std::string& exe) {
  std::string error;
  auto store = TResourceStore::Open(exe, error);
  if (!store) return Fail(error);
  for (std::size_t i = 0; i < store->Count(); ++i) {
    const auto& entry = store->Entry(i);
    std::printf("%-20.*s %3u %5u %10llu %10zu %s\n", static_cast<int>(entry.Name.size()), entry.Name.data(),
                entry.Kind, entry.Language, static_cast<unsigned long long>(entry.Size()), entry.Bytes.size(),
                std::string(CodecName(entry.Codec)).c_str());
  }
  return 0;
}

int Extract(const std::string& exe, const std::string& name, const std::string& outPath) {
  std::string error;
  auto store = TResourceStore::Open(exe, error);
  if (!store) return Fail(error);
  for (std::size_t i = 0; i < store->Count(); ++i) {
    const auto& entry = store->Entry(i);
    if (entry.Name != name) continue;
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    error = TryStreamEntry(entry, [&](std::span<const std::uint8_t> chunk) {
      out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
    });
    if (!error.empty()) return Fail(error);
    if (!out.flush()) return Fail("cannot write " + outPath);
    return 0;
  }
  return Fail("no entry named " + name);
}

int Pack(const std::string& outPath, const std::vector<std::string>& assignments) {
  std::vector<TStoreInput> inputs;
  TResourceCodec codec = TResourceCodec::LZ4;
  for (std::size_t i = 0; i < assignments.size(); ++i) {
    const std::string& assignment = assignments[i];
    if (assignment == "--codec") {
      auto chosen = i + 1 < assignments.size() ? ParseCodec(assignments[++i]) : std::nullopt;
      if (!chosen) return Usage();
      codec = *chosen;
      continue;
    }
    TStoreInput input;
    std::string file;
    if (!SplitAssignment(assignment, input.Name, file)) return Fail("expected NAME=FILE, got " + assignment);
    auto bytes = ReadWholeFile(file);
    if (!bytes) return Fail("cannot read " + file);
    input.Bytes = std::move(*bytes);
    input.Codec = codec;
    input.BlockSize = kBlockSize;
    inputs.push_back(std::move(input));
  }
  std::string error;
  auto blob = BuildStore(std::move(inputs), error);
  if (!error.empty()) return Fail(error);
  if (!WriteFile(outPath, blob)) return Fail("cannot write " + outPath);
  return 0;
}

int Edit(const std::string& exe, const std::string& outPath, const std::vector<std::string>& options) {
  auto image = ReadWholeFile(exe);
  if (!image) return Fail("cannot read " + exe);
  std::string error;
  auto section = FindStoreSection(*image, error);
  if (!section) return Fail(error);
  auto parsed = ParseStore(std::span<const std::uint8_t>(*image).subspan(static_cast<std::size_t>(section->Offset),
                                                                         static_cast<std::size_t>(section->Size)));
  if (!parsed.Ok()) return Fail(parsed.Error);
  std::map<std::string, TStoreInput> entries;
  for (const auto& entry : parsed.Entries) {
    TStoreInput input{std::string(entry.Name), {entry.Bytes.begin(), entry.Bytes.end()}, entry.Kind, entry.Language,
                      entry.Codec, entry.BlockSize, true, entry.Size()};
    entries[input.Name] = std::move(input);
  }
  TResourceCodec codec = TResourceCodec::LZ4;
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (i + 1 >= options.size()) return Usage();
    const std::string& value = options[i + 1];
    if (options[i] == "--codec") {
      auto chosen = ParseCodec(value);
      if (!chosen) return Usage();
      codec = *chosen;
    } else if (options[i] == "--remove") {
      if (entries.erase(value) == 0) return Fail("no entry named " + value);
    } else if (options[i] == "--set") {
      TStoreInput input;
      std::string file;
      if (!SplitAssignment(value, input.Name, file)) return Fail("expected NAME=FILE, got " + value);
      auto bytes = ReadWholeFile(file);
      if (!bytes) return Fail("cannot read " + file);
      input.Bytes = std::move(*bytes);
      input.Codec = codec;
      input.BlockSize = kBlockSize;
      entries[input.Name] = std::move(input);
    } else {
      return Usage();
    }
    ++i;
  }
  std::vector<TStoreInput> inputs;
  for (auto& [name, input] : entries) inputs.push_back(std::move(input));
  auto blob = BuildStore(std::move(inputs), error);
  if (!error.empty()) return Fail(error);
  auto rewritten = LooksLikePe(*image)     ? ReplacePeSection(*image, *section, blob, error)
                   : LooksLikeWasm(*image) ? WithWasmSection(*image, kStoreSectionName, blob, error)
                                           : ReplaceSection(*image, *section, blob, error);
  if (!rewritten) return Fail(error);
  if (!WriteFile(outPath, *rewritten)) return Fail("cannot write " + outPath);
  std::filesystem::permissions(outPath, std::filesystem::perms(0755));
  return 0;
}

// A Windows executable as linked, without a store, gets the packed store as its section (the
// Linux build adds its section with objcopy; a linked PE image needs the section placed
// after its last one, which objcopy leaves to the caller); a WebAssembly module gets it as
// its last custom section.
int Embed(const std::string& exe, const std::string& storePath, const std::string& outPath) {
  auto image = ReadWholeFile(exe);
  if (!image) return Fail("cannot read " + exe);
  const bool wasm = LooksLikeWasm(*image);
  if (!wasm && !LooksLikePe(*image)) return Fail(exe + " is not a Windows executable or a WebAssembly module");
  auto blob = ReadWholeFile(storePath);
  if (!blob) return Fail("cannot read " + storePath);
  auto parsed = ParseStore(*blob);
  if (!parsed.Ok()) return Fail(storePath + ": " + parsed.Error);
  std::string error;
  auto embedded = wasm ? WithWasmSection(*image, kStoreSectionName, *blob, error)
                       : AddPeSection(*image, kStorePeSectionName, *blob, error);
  if (!embedded) return Fail(error);
  if (!WriteFile(outPath, *embedded)) return Fail("cannot write " + outPath);
  std::filesystem::permissions(outPath, std::filesystem::perms(0755));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string& command = args[0];
  if (command == "list" && args.size() == 2) return List(args[1]);
  if (command == "extract" && args.size() == 4) return Extract(args[1], args[2], args[3]);
  if (command == "pack" && args.size() >= 2) return Pack(args[1], {args.begin() + 2, args.end()});
  if (command == "edit" && args.size() >= 3) return Edit(args[1], args[2], {args.begin() + 3, args.end()});
  if (command == "embed" && args.size() == 4) return Embed(args[1], args[2], args[3]);
  return Usage();
}
