// uStore: packing a store blob (kelvo-res and the tests): entries sorted by name, each kept
// compressed only where that gains, in the layout store.hpp describes and the reader
// accepts.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "store/store.hpp"

// One entry to pack. Codec and BlockSize say how to keep it; a compressed form that does
// not gain over the raw bytes is stored raw (see ChooseStoredForm).
struct TStoreInput {
  std::string Name;
  std::vector<std::uint8_t> Bytes;
  std::uint16_t Kind = kResourceKindRCData;
  std::uint16_t Language = kResourceLanguage;
  TResourceCodec Codec = TResourceCodec::Raw;
  std::uint32_t BlockSize = 0;
  // An entry already in stored form (taken over unchanged from another store): Bytes are
  // then the stored bytes and ContentSize the entry's size.
  bool Stored = false;
  std::uint64_t ContentSize = 0;
};

// Builds a store blob from entries (sorted by name here); returns an error text for
// duplicate or empty names or a block size the reader would refuse. Entries are compressed
// on up to two threads.
std::vector<std::uint8_t> BuildStore(std::vector<TStoreInput> inputs, std::string& error);

// Compresses bytes into the stored form of a compressed entry (block table and blocks).
std::vector<std::uint8_t> CompressEntry(std::span<const std::uint8_t> bytes, TResourceCodec codec,
                                        std::uint32_t blockSize);

// True when a compressed form of stored bytes is worth its decompression over keeping
// the size bytes raw (it must save more than a thirty-second).
bool CompressionGains(std::uint64_t size, std::uint64_t stored);
