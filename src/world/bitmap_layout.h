// Where a map row's pixels lie in the layer bitmaps. Stored rows run bottom
// map row first; LargeMap gives each map row a band of five image rows.
#pragma once

#include <cstdint>

#include "bitmap/bmp.h"
#include "world/world.h"

struct PassGeometry {
    std::uint32_t Width;
    std::uint32_t Height;
    std::uint64_t Stride;       // stored row of a one-byte layer
    std::uint64_t LargeStride;  // stored row of LargeMap
    std::uint64_t LargeHeight;  // LargeMap image rows
};

inline PassGeometry GeometryOf(std::uint32_t width, std::uint32_t height) {
    return {width, height, RowStride(width), RowStride(std::uint64_t{kLargeMapScale} * width),
            std::uint64_t{kLargeMapScale} * height};
}

// The five stored rows of a LargeMap band.
inline std::uint64_t BandLength(const PassGeometry& geometry) { return geometry.LargeStride * kLargeMapScale; }

// Map row y of a LandType or LandHeight bitmap whose pixels begin at pixelStart.
inline std::uint64_t OneByteRowPosition(const PassGeometry& geometry, std::uint64_t pixelStart, std::uint32_t y) {
    return pixelStart + geometry.Stride * (geometry.Height - 1 - y);
}

// Map row y's LargeMap band: image rows 5y+4 (stored first) up to 5y.
inline std::uint64_t BandPosition(const PassGeometry& geometry, std::uint64_t pixelStart, std::uint32_t y) {
    return pixelStart +
           geometry.LargeStride * (geometry.LargeHeight - kLargeMapScale - std::uint64_t{kLargeMapScale} * y);
}

// Block row k of cell x within its band.
inline std::uint64_t BlockRowInBand(const PassGeometry& geometry, std::uint32_t x, std::uint32_t k) {
    return geometry.LargeStride * (kLargeMapScale - 1 - k) + std::uint64_t{kLargeMapScale} * x;
}
