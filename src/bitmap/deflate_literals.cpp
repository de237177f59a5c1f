#include "bitmap/deflate_literals.h"

#include <algorithm>
#include <cstring>

#include "platform/le_bytes.h"

namespace {

constexpr std::uint32_t kBlockBytes = 65535;  // the most a stored block holds
constexpr int kSymbols = 257;                 // the 256 bytes, then the end of a block
constexpr int kEndOfBlock = 256;
constexpr int kMostBits = 15;       // deflate's longest code
constexpr int kLengthSymbols = 19;  // the code that codes the code lengths
constexpr int kMostLengthBits = 7;  // and its longest code
constexpr std::uint8_t kLengthOrder[kLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                       11, 4,  12, 3, 13, 2, 14, 1, 15};
// Two distance codes of one bit, none of them used: a complete code, as
// zlib writes for a block without repeats, which every decoder takes.
constexpr int kDistanceCodes = 2;

// Bits go out lowest first, as deflate packs them.
struct BitWriter {
    std::uint8_t* Out;
    std::uint64_t Bits;
    int Count;
};

inline void Put(BitWriter& w, std::uint32_t value, int bits) {
    w.Bits |= std::uint64_t{value} << w.Count;
    w.Count += bits;
    if (w.Count >= 32) {
        le::Put32(w.Out, static_cast<std::uint32_t>(w.Bits));
        w.Out += 4;
        w.Bits >>= 32;
        w.Count -= 32;
    }
}

void AlignToByte(BitWriter& w) {
    for (; w.Count > 0; w.Count -= 8) {
        *w.Out++ = static_cast<std::uint8_t>(w.Bits);
        w.Bits >>= 8;
    }
    w.Bits = 0;
    w.Count = 0;
}

// A stored block: its three header bits, then from the next byte its
// length, the length's complement and the bytes.
void PutStored(BitWriter& w, const std::uint8_t* in, std::uint32_t count, bool final) {
    Put(w, final ? 1 : 0, 3);
    AlignToByte(w);
    le::Put16(w.Out, static_cast<std::uint16_t>(count));
    le::Put16(w.Out + 2, static_cast<std::uint16_t>(~count));
    if (count > 0) std::memcpy(w.Out + 4, in, count);
    w.Out += 4 + count;
}

// Huffman code lengths for the counts of n symbols (at least two of them
// counted); returns the longest.
int HuffmanLengths(const std::uint32_t* counts, int n, std::uint8_t* lengths) {
    // Leaves by count, then the nodes made of them, which come out in the
    // order of their weights: the smaller front of the two is the next taken.
    int order[kSymbols], leaves = 0;
    for (int s = 0; s < n; ++s)
        if (counts[s] > 0) order[leaves++] = s;
    std::sort(order, order + leaves,
              [&](int a, int b) { return counts[a] != counts[b] ? counts[a] < counts[b] : a < b; });
    std::uint64_t weight[2 * kSymbols];
    int parent[2 * kSymbols], depth[2 * kSymbols];
    for (int i = 0; i < leaves; ++i) weight[i] = counts[order[i]];
    int leaf = 0, inner = leaves, made = leaves;
    const auto smallest = [&] {
        return leaf < leaves && (inner == made || weight[leaf] <= weight[inner]) ? leaf++ : inner++;
    };
    for (; made < 2 * leaves - 1; ++made) {
        const int a = smallest(), b = smallest();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = made;
    }
    // A node is made after its children: depths from the root down.
    depth[made - 1] = 0;
    for (int i = made - 2; i >= 0; --i) depth[i] = depth[parent[i]] + 1;
    std::fill(lengths, lengths + n, std::uint8_t{0});
    int longest = 0;
    for (int i = 0; i < leaves; ++i) {
        longest = std::max(longest, depth[i]);
        lengths[order[i]] = static_cast<std::uint8_t>(std::min(depth[i], 255));
    }
    return longest;
}

// Code lengths no longer than mostBits: counts are halved until the code
// fits, which flattens it. At least two symbols get a code, so that the
// code is complete.
void LimitedLengths(const std::uint32_t* given, int n, int mostBits, std::uint8_t* lengths) {
    std::uint32_t counts[kSymbols];
    std::copy(given, given + n, counts);
    auto counted = std::count_if(counts, counts + n, [](std::uint32_t c) { return c > 0; });
    for (int s = 0; counted < 2; ++s)
        if (counts[s] == 0) {
            counts[s] = 1;
            ++counted;
        }
    while (HuffmanLengths(counts, n, lengths) > mostBits)
        for (int s = 0; s < n; ++s) counts[s] = (counts[s] + 1) / 2;
}

std::uint32_t Reversed(std::uint32_t code, int bits) {
    std::uint32_t r = 0;
    for (int i = 0; i < bits; ++i, code >>= 1) r = (r << 1) | (code & 1);
    return r;
}

// The canonical codes of the lengths, bit-reversed for writing lowest first.
void CanonicalCodes(const std::uint8_t* lengths, int n, std::uint32_t* codes) {
    int perLength[kMostBits + 1] = {};
    for (int s = 0; s < n; ++s) ++perLength[lengths[s]];
    perLength[0] = 0;
    std::uint32_t next[kMostBits + 1] = {}, code = 0;
    for (int bits = 1; bits <= kMostBits; ++bits) next[bits] = code = (code + perLength[bits - 1]) << 1;
    for (int s = 0; s < n; ++s)
        if (lengths[s] > 0) codes[s] = Reversed(next[lengths[s]]++, lengths[s]);
}

// A block of literals coded by their counts, or stored if that is no larger.
void PutBlock(BitWriter& w, const std::uint8_t* in, std::uint32_t count, bool final) {
    // Four tables of counts, so that a run of one byte does not wait on itself.
    std::uint32_t tally[4][256] = {};
    std::uint32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        ++tally[0][in[i]];
        ++tally[1][in[i + 1]];
        ++tally[2][in[i + 2]];
        ++tally[3][in[i + 3]];
    }
    for (; i < count; ++i) ++tally[0][in[i]];
    std::uint32_t counts[kSymbols];
    for (int s = 0; s < 256; ++s) counts[s] = tally[0][s] + tally[1][s] + tally[2][s] + tally[3][s];
    counts[kEndOfBlock] = 1;
    std::uint8_t lengths[kSymbols + kDistanceCodes];
    LimitedLengths(counts, kSymbols, kMostBits, lengths);
    lengths[kSymbols] = lengths[kSymbols + 1] = 1;

    // The lengths themselves, coded by a code of their own (its symbols 0 to
    // 15 are the lengths as they are; runs are not worth their bits here).
    std::uint32_t lengthCounts[kLengthSymbols] = {};
    for (const std::uint8_t l : lengths) ++lengthCounts[l];
    std::uint8_t lengthLengths[kLengthSymbols];
    LimitedLengths(lengthCounts, kLengthSymbols, kMostLengthBits, lengthLengths);
    int sent = kLengthSymbols;  // lengths of the length code sent, in its order; trailing zeros go
    while (sent > 4 && lengthLengths[kLengthOrder[sent - 1]] == 0) --sent;

    std::uint64_t bits = 3 + 5 + 5 + 4 + 3 * static_cast<std::uint64_t>(sent);
    for (const std::uint8_t l : lengths) bits += lengthLengths[l];
    for (int s = 0; s < kSymbols; ++s) bits += std::uint64_t{counts[s]} * lengths[s];
    if (bits >= 8 * std::uint64_t{count} + 42) {  // a stored block's bits, at most
        PutStored(w, in, count, final);
        return;
    }

    std::uint32_t codes[kSymbols], lengthCodes[kLengthSymbols];
    CanonicalCodes(lengths, kSymbols, codes);
    CanonicalCodes(lengthLengths, kLengthSymbols, lengthCodes);
    Put(w, final ? 1 : 0, 1);
    Put(w, 2, 2);  // Huffman codes of the block's own
    Put(w, kSymbols - 257, 5);
    Put(w, kDistanceCodes - 1, 5);
    Put(w, static_cast<std::uint32_t>(sent - 4), 4);
    for (int k = 0; k < sent; ++k) Put(w, lengthLengths[kLengthOrder[k]], 3);
    for (const std::uint8_t l : lengths) Put(w, lengthCodes[l], lengthLengths[l]);

    // Each byte's code and its length in one entry, for the one loop that counts.
    std::uint32_t entry[256];
    for (int s = 0; s < 256; ++s) entry[s] = codes[s] | static_cast<std::uint32_t>(lengths[s]) << 16;
    for (i = 0; i < count; ++i) Put(w, entry[in[i]] & 0xFFFF, static_cast<int>(entry[in[i]] >> 16));
    Put(w, codes[kEndOfBlock], lengths[kEndOfBlock]);
}

}  // namespace

std::uint64_t DeflateLiteralsBound(std::uint64_t count) {
    // Each block at most as large as stored, then a stored block's five
    // bytes for the end, and a few bytes of bits not yet out.
    return count + 6 * (count / kBlockBytes + 2) + 8;
}

std::uint64_t DeflateLiterals(const std::uint8_t* in, std::uint64_t count, bool last, std::uint8_t* out) {
    BitWriter w{out, 0, 0};
    for (std::uint64_t at = 0; at < count;) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlockBytes, count - at));
        at += n;
        PutBlock(w, in + at - n, n, last && at == count);
    }
    // The end: byte-aligned behind an empty stored block, which also ends
    // an empty stream; after a last block, its own bits padded out.
    if (!last || count == 0) PutStored(w, nullptr, 0, last);
    AlignToByte(w);
    return static_cast<std::uint64_t>(w.Out - out);
}
