// Deflate with literals alone: each block of bytes coded with Huffman codes
// made from that block's own counts, and no search for repeats. On the
// filtered rows of a grey layer this is as small as zlib's Huffman-only
// strategy (within a few hundredths of a percent) at three to four times its
// speed, and speed is what a PNG export of the largest layer waits for.
#pragma once

#include <cstdint>

// Room out must have for DeflateLiterals of count bytes.
std::uint64_t DeflateLiteralsBound(std::uint64_t count);

// The count bytes at in, deflated into out as raw deflate blocks; returns
// the bytes written. The data ends byte-aligned: as the stream's last block
// when last, otherwise behind an empty stored block, so that more blocks may
// simply follow. A block that codes no smaller than it is goes stored.
std::uint64_t DeflateLiterals(const std::uint8_t* in, std::uint64_t count, bool last, std::uint8_t* out);
