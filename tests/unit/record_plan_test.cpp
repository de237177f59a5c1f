#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "move/record_batches.h"

namespace {

struct Planned {
    std::vector<RecordPiece> Pieces;
    std::vector<std::uint32_t> CellOffsets;
    PiecePlan Plan;
};

// positions: rows of `width` cells, top row first, as the table holds them.
Planned Plan(const std::vector<std::uint32_t>& positions, std::uint32_t width) {
    const std::size_t cells = positions.size();
    std::vector<std::uint64_t> keys(cells), sorted(cells);
    std::vector<std::uint32_t> counts(kDigitValues);
    Planned planned{std::vector<RecordPiece>(cells), std::vector<std::uint32_t>(cells), {}};
    planned.Plan =
        PlanPieces(positions.data(), static_cast<std::uint32_t>(cells / width), width,
                   {keys.data(), sorted.data(), counts.data()}, planned.Pieces.data(), planned.CellOffsets.data());
    planned.Pieces.resize(planned.Plan.Count);
    return planned;
}

TEST(RecordPlan, PiecesAndCellOffsets) {
    struct Case {
        const char* Name;
        std::vector<std::uint32_t> Positions;
        std::uint32_t Width;
        std::vector<std::uint64_t> PieceStarts;
        std::vector<std::uint32_t> PieceLengths;
        std::vector<std::uint32_t> CellOffsets;
        bool Overlapping;
    };
    const Case cases[] = {
        // The bottom row's records come first in memory, as the pass walks them.
        {"rows in order, one record shared", {1047, 1094, 1000, 1047}, 2, {1000}, {141}, {47, 94, 0, 47}, true},
        {"records apart by 16 bytes share a piece", {1000, 1063}, 2, {1000}, {110}, {0, 63}, false},
        {"by 17 they do not", {1000, 1064}, 2, {1000, 1064}, {47, 47}, {0, 47}, false},
        {"records that touch", {1000, 1047}, 2, {1000}, {94}, {0, 47}, false},
        {"overlapping records share bytes", {1000, 1020}, 1, {1000}, {67}, {0, 20}, true},
        {"scattered records in file order", {5000, 100, 3000}, 3, {100, 3000, 5000}, {47, 47, 47}, {94, 0, 47}, false},
    };
    for (const Case& c : cases) {
        const Planned plan = Plan(c.Positions, c.Width);
        std::vector<std::uint64_t> starts;
        std::vector<std::uint32_t> lengths;
        std::uint64_t bytes = 0;
        for (const RecordPiece& piece : plan.Pieces) {
            EXPECT_EQ(piece.BufferOffset, bytes) << c.Name;  // pieces lie one after the other
            starts.push_back(piece.Start);
            lengths.push_back(piece.Length);
            bytes += piece.Length;
        }
        EXPECT_EQ(starts, c.PieceStarts) << c.Name;
        EXPECT_EQ(lengths, c.PieceLengths) << c.Name;
        EXPECT_EQ(plan.CellOffsets, c.CellOffsets) << c.Name;
        EXPECT_EQ(plan.Plan.RecordBytes, bytes) << c.Name;
        EXPECT_EQ(plan.Plan.Overlapping, c.Overlapping) << c.Name;
    }
}

// count short pieces of length bytes, one right after the other.
std::vector<RecordPiece> Touching(std::uint32_t count, std::uint32_t length) {
    std::vector<RecordPiece> pieces;
    for (std::uint32_t i = 0; i < count; ++i) pieces.push_back({std::uint64_t{i} * length, length, i * length});
    return pieces;
}

TEST(RecordPlan, Spans) {
    constexpr std::uint32_t kLong = 64 * 1024;
    struct Case {
        const char* Name;
        std::vector<RecordPiece> Pieces;
        std::vector<std::size_t> SpanFirsts;  // where each span begins
        std::vector<bool> Direct;
    };
    const Case cases[] = {
        {"short pieces close together share a window", {{0, 47, 0}, {1000, 47, 47}, {17000, 47, 94}}, {0}, {false}},
        {"a gap over 16 KiB starts a window", {{0, 47, 0}, {16 * 1024 + 48, 47, 47}}, {0, 1}, {false, false}},
        {"a long piece moves alone",
         {{0, 47, 0}, {100, kLong, 47}, {kLong + 200, 47, kLong + 47}},
         {0, 1, 2},
         {false, true, false}},
        {"a window holds at most 1 MiB", Touching(18, 60000), {0, 17}, {false, false}},
    };
    for (const Case& c : cases) {
        std::vector<std::size_t> firsts;
        std::vector<bool> direct;
        for (std::size_t i = 0; i < c.Pieces.size();) {
            const Span span = NextSpan(c.Pieces.data(), c.Pieces.size(), i);
            EXPECT_EQ(span.Start, c.Pieces[span.First].Start) << c.Name;
            EXPECT_EQ(span.End, c.Pieces[span.Next - 1].Start + c.Pieces[span.Next - 1].Length) << c.Name;
            firsts.push_back(span.First);
            direct.push_back(span.Direct);
            i = span.Next;
        }
        EXPECT_EQ(firsts, c.SpanFirsts) << c.Name;
        EXPECT_EQ(direct, c.Direct) << c.Name;
    }
}

}  // namespace
