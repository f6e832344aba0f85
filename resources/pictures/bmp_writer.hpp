// Encodes a painted picture as the demo's BMP: "BM", 32 bits per pixel, bit-field
// compression with the masks red 0x00ff0000, green 0x0000ff00, blue 0x000000ff and alpha
// 0xff000000, rows bottom-up, bytes B, G, R, A with straight alpha, no row padding. The
// info header is either the 124-byte V5 header or the 56-byte V3 header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resources/pictures/image.hpp"

enum class TBmpHeader { V3, V5 };

// Size in bytes of the info header of each kind.
constexpr std::uint32_t InfoHeaderSize(TBmpHeader kind) { return kind == TBmpHeader::V5 ? 124u : 56u; }

std::vector<std::uint8_t> EncodeBmp(const TImage& image, TBmpHeader kind);

// Writes the bytes to path through a temporary file renamed into place, so an
// interrupted run never leaves a truncated picture behind. Failures are fatal.
void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);
