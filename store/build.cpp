// uStore: building a store blob and compressing its entries, for kelvo-res (see build.hpp).
#include "store/build.hpp"

#include <lz4.h>
#include <lz4hc.h>
#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "base/dynarray.hpp"
#include "base/fatal.hpp"
#include "store/layout.hpp"

namespace {

constexpr int kLZ4Level = LZ4HC_CLEVEL_MAX;
constexpr int kZstdLevel = 19;

}  // namespace

std::vector<std::uint8_t> CompressEntry(std::span<const std::uint8_t> bytes, TResourceCodec codec,
                                        std::uint32_t blockSize) {
  Assert(codec != TResourceCodec::Raw && blockSize > 0 && blockSize <= kMaxBlockSize, "bad block size", "uStore",
         __LINE__);
  const std::size_t blocks = bytes.size() / blockSize + (bytes.size() % blockSize != 0 ? 1 : 0);
  std::vector<std::uint8_t> out(blocks * 4);
  std::vector<std::uint8_t> packed;
  std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(nullptr, ZSTD_freeCCtx);
  if (codec == TResourceCodec::Zstd) context.reset(ZSTD_createCCtx());
  for (std::size_t block = 0; block < blocks; ++block) {
    const auto part = bytes.subspan(block * blockSize, std::min<std::size_t>(blockSize, bytes.size() - block * blockSize));
    std::size_t length = 0;
    if (codec == TResourceCodec::LZ4) {
      packed.resize(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(part.size()))));
      const int n = LZ4_compress_HC(reinterpret_cast<const char*>(part.data()), reinterpret_cast<char*>(packed.data()),
                                    static_cast<int>(part.size()), static_cast<int>(packed.size()), kLZ4Level);
      Assert(n > 0, "LZ4 compression failed", "uStore", __LINE__);
      length = static_cast<std::size_t>(n);
    } else {
      packed.resize(ZSTD_compressBound(part.size()));
      length = ZSTD_compressCCtx(context.get(), packed.data(), packed.size(), part.data(), part.size(), kZstdLevel);
      Assert(!ZSTD_isError(length), "zstd compression failed", "uStore", __LINE__);
    }
    StorePlain<std::uint32_t>(out, block * 4, Narrow<std::uint32_t>(length));
    out.insert(out.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(length));
  }
  return out;
}

namespace {

// Turns one input into its stored form: compressed when that gains, raw otherwise.
void MakeStored(TStoreInput& input) {
  if (input.Stored) return;
  input.ContentSize = input.Bytes.size();
  input.Stored = true;
  if (input.Codec == TResourceCodec::Raw || input.Bytes.empty()) {
    input.Codec = TResourceCodec::Raw;
    input.BlockSize = 0;
    return;
  }
  std::vector<std::uint8_t> packed = CompressEntry(input.Bytes, input.Codec, input.BlockSize);
  if (!CompressionGains(input.Bytes.size(), packed.size())) {
    input.Codec = TResourceCodec::Raw;
    input.BlockSize = 0;
    return;
  }
  input.Bytes = std::move(packed);
}

}  // namespace

bool CompressionGains(std::uint64_t size, std::uint64_t stored) { return stored + size / 32 < size; }

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
    if (!inputs[i].Stored && inputs[i].Codec != TResourceCodec::Raw &&
        (inputs[i].BlockSize == 0 || inputs[i].BlockSize > kMaxBlockSize)) {
      error = "the entry " + inputs[i].Name + " has a block size out of range";
      return {};
    }
  }
  // Compression is the slow part: two threads take the entries in turn, largest first.
  {
    std::vector<std::size_t> order(inputs.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return inputs[a].Bytes.size() > inputs[b].Bytes.size(); });
    std::atomic<std::size_t> next{0};
    auto work = [&] {
      for (std::size_t at; (at = next++) < order.size();) MakeStored(inputs[order[at]]);
    };
    std::thread helper(work);
    work();
    helper.join();
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
    const TStoreInput& input = inputs[i];
    std::size_t record = kHeaderSize + i * kRecordSize;
    StorePlain<std::uint32_t>(blob, record, Narrow<std::uint32_t>(nameCursor));
    StorePlain<std::uint32_t>(blob, record + 4, Narrow<std::uint32_t>(input.Name.size()));
    StorePlain<std::uint16_t>(blob, record + 8, input.Kind);
    StorePlain<std::uint16_t>(blob, record + 10, input.Language);
    StorePlain<std::uint8_t>(blob, record + 12, static_cast<std::uint8_t>(input.Codec));
    StorePlain<std::uint64_t>(blob, record + 16, dataAt[i]);
    StorePlain<std::uint64_t>(blob, record + 24, input.Bytes.size());
    StorePlain<std::uint64_t>(blob, record + 32, input.ContentSize);
    StorePlain<std::uint32_t>(blob, record + 40, input.Codec == TResourceCodec::Raw ? 0 : input.BlockSize);
    std::memcpy(blob.data() + nameCursor, input.Name.data(), input.Name.size());
    nameCursor += input.Name.size();
    if (!input.Bytes.empty()) std::memcpy(blob.data() + dataAt[i], input.Bytes.data(), input.Bytes.size());
  }
  return blob;
}
