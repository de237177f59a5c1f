// Where a map row's pixels lie in a layer's bitmap. Each cell is a block of
// Block x Block pixels, so a map row is a band of Block image rows; stored
// rows run bottom map row first.
#pragma once

#include <cstdint>

#include "bitmap/bmp.h"

struct LayerGeometry {
    std::uint32_t Block;
    std::uint64_t Stride;       // a stored row: Block x Width pixels, padded to 4 bytes
    std::uint64_t ImageHeight;  // Block x Height image rows
};

inline LayerGeometry GeometryOf(std::uint32_t block, std::uint32_t width, std::uint32_t height) {
    return {block, RowStride(std::uint64_t{block} * width), std::uint64_t{block} * height};
}

// The Block stored rows of a band.
inline std::uint64_t BandLength(const LayerGeometry& geometry) { return geometry.Stride * geometry.Block; }

// Map row y's band in a bitmap whose pixels begin at pixelStart: image rows
// Block y + Block - 1 (stored first) up to Block y.
inline std::uint64_t BandPosition(const LayerGeometry& geometry, std::uint64_t pixelStart, std::uint32_t y) {
    return pixelStart + geometry.Stride * (geometry.ImageHeight - geometry.Block - std::uint64_t{geometry.Block} * y);
}

// Block row k of cell x within its band.
inline std::uint64_t BlockRowInBand(const LayerGeometry& geometry, std::uint32_t x, std::uint32_t k) {
    return geometry.Stride * (geometry.Block - 1 - k) + std::uint64_t{geometry.Block} * x;
}
