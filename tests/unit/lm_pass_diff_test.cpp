// The fast LM pass against the plain reference: the same world bytes, the same
// exported files and the same console line, on many random worlds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bitmap/bmp.h"
#include "move/smallmap.h"
#include "platform/le_bytes.h"
#include "reference/reference_lm_pass.h"
#include "support/test_files.h"
#include "world/layers.h"
#include "world/world.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
enum class Layout { InOrder, Shuffled, Duplicates, Overlap, Odd, Anywhere };
enum class Stage { None, Export, Import };

Bytes MakeWorld(std::uint32_t width, std::uint32_t height, Layout layout, std::mt19937_64& rng) {
    const std::uint64_t cells = std::uint64_t{width} * height;
    const std::uint64_t tableEnd = 144 + 4 * cells;
    std::vector<std::uint64_t> place(cells);
    std::uint64_t area = 47 * cells;
    for (std::uint64_t i = 0; i < cells; ++i) place[i] = 47 * i;
    switch (layout) {
        case Layout::InOrder: break;
        case Layout::Shuffled: std::shuffle(place.begin(), place.end(), rng); break;
        case Layout::Duplicates:
            for (auto& p : place)
                if (rng() % 3 == 0) p = place[rng() % cells];
            break;
        case Layout::Overlap:
            for (std::uint64_t i = 0; i < cells; ++i) place[i] = 20 * i;
            area = 20 * cells + 27;
            break;
        case Layout::Odd: {
            std::uint64_t at = 1;
            for (auto& p : place) {
                p = at;
                at += 47 + rng() % 40;
            }
            area = at;
            break;
        }
        case Layout::Anywhere:  // any overlap at all, repeats included
            area = 47 * cells / 3 + 47;
            for (auto& p : place) p = rng() % (area - 46);
            break;
    }
    Bytes world(tableEnd + area + cells);
    for (auto& b : world) b = static_cast<std::uint8_t>(rng());
    le::Put32(world.data() + 4, width);
    le::Put32(world.data() + 8, height);
    le::Put32(world.data() + 28, static_cast<std::uint32_t>(tableEnd + area));
    for (std::uint64_t i = 0; i < cells; ++i)
        le::Put32(world.data() + 144 + 4 * i, static_cast<std::uint32_t>(tableEnd + place[i]));
    return world;
}

// An import file as its check takes it: its pixel data at its own offset,
// without some of its last row's padding or running long.
Bytes MakeImport(std::uint64_t pixelBytes, std::uint64_t padding, std::uint32_t* pixelStart, std::mt19937_64& rng) {
    const std::uint32_t starts[] = {54, 118, 1078, static_cast<std::uint32_t>(54 + rng() % 3000)};
    *pixelStart = starts[rng() % 4];
    std::uint64_t length = *pixelStart + pixelBytes;
    switch (rng() % 4) {
        case 0: length -= rng() % (padding + 1); break;  // padding missing
        case 1: length += rng() % 100; break;            // long
        default: break;
    }
    Bytes file(length);
    for (auto& b : file) b = static_cast<std::uint8_t>(rng());
    return file;
}

using test_files::Load;
using test_files::Save;

struct Outcome {
    Bytes World;
    Bytes Exports[kLayerCount];
    std::string Console;
    std::string Said;  // standard error: what the imports changed
};

// How an import is read: its rows stored top-down or not, its bytes taken
// through a palette's values, or decoded into memory beforehand.
struct ImportShape {
    std::uint32_t PixelStart;
    bool TopDown;
    bool ByColour;
    bool Decoded;
    std::uint8_t Values[256];
};

ImportShape RandomShape(std::uint32_t pixelStart, std::mt19937_64& rng) {
    ImportShape shape{pixelStart, rng() % 3 == 0, rng() % 3 == 0, rng() % 4 == 0, {}};
    for (auto& v : shape.Values) v = static_cast<std::uint8_t>(rng() % 5);  // LandType 3 and 4 fold to 0
    return shape;
}

// The source as staging leaves it.
void StageSource(LayerSlot& slot, platform::FileHandle handle, const Bytes& file, const ImportShape& shape,
                 std::uint32_t width, std::uint64_t height) {
    ImportSource& source = slot.Import;
    source = ImportSource{};
    source.File = handle;
    source.PixelStart = shape.PixelStart;
    source.Width = width;
    source.Stride = RowStride(width);
    source.Rows = height;
    source.TopDown = shape.TopDown;
    source.ByColour = shape.ByColour;
    std::memcpy(source.Values, shape.Values, sizeof source.Values);
    if (!shape.Decoded) return;
    // Decoded images are whole and bottom-up, their values final.
    source.Reading = RowSource::Decoded;
    source.PixelStart = 0;
    source.TopDown = false;
    source.ByColour = false;
    const std::uint64_t size = source.Stride * height;
    source.Decoded = platform::Allocate<std::uint8_t>(size);
    for (std::uint64_t i = 0; i < size && shape.PixelStart + i < file.size(); ++i)
        source.Decoded[i] = file[shape.PixelStart + i];
}

class LmPassDiff : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test_files::MakeFolder("diff");
        std::signal(SIGXFSZ, SIG_IGN);
    }
    void TearDown() override { test_files::RemoveFolder(dir_); }

    // Stages the layers as the staging step leaves them and runs one pass.
    using Pass = void (*)(console::Report&, WorldFile&, WorldBackup&, LayerSlot (&)[kLayerCount]);

    Outcome Run(Pass pass, const Bytes& worldBytes, const Stage (&stages)[kLayerCount],
                const Bytes (&imports)[kLayerCount], const ImportShape (&shapes)[kLayerCount],
                rlim_t fileLimit = RLIM_INFINITY) {
        Save(dir_ + "/world", worldBytes);
        WorldFile world{};
        LayerSlot layers[kLayerCount] = {};
        std::snprintf(world.Path, sizeof world.Path, "%s/world", dir_.c_str());
        world.Handle = platform::OpenFile(world.Path, platform::Share::Read, platform::Disposition::OpenExisting);
        std::uint32_t got = 0;
        platform::ReadFile(world.Handle, world.Header.Raw, kWldHeaderSize, &got);
        DecodeWldHeader(world.Header);
        world.Size = worldBytes.size();
        world.OffsetRow = static_cast<std::uint32_t*>(platform::AllocateMemory(4 * world.Header.Width));
        WorldBackup backup{};
        backup.Made = true;  // the pass alone is compared here
        BmpHeader header{};
        PrepareBmpHeader(header);
        for (int i = 0; i < kLayerCount; ++i) {
            LayerSlot& slot = layers[i];
            const std::uint32_t scale = i == kLargeMap ? 5 : 1;
            if (stages[i] == Stage::Export) {
                std::snprintf(slot.Path, sizeof slot.Path, "%s/out%d", dir_.c_str(), i);
                slot.ExportStaged = StartExportFile(
                    slot.Export, header,
                    platform::OpenFile(slot.Path, platform::Share::None, platform::Disposition::CreateAlways),
                    scale * world.Header.Width, scale * world.Header.Height,
                    i == kLandType ? Palette::LandType : Palette::Gray, false);
            } else if (stages[i] == Stage::Import) {
                std::snprintf(slot.Path, sizeof slot.Path, "%s/in%d", dir_.c_str(), i);
                Save(slot.Path, imports[i]);
                StageSource(slot,
                            platform::OpenFile(slot.Path, platform::Share::Read, platform::Disposition::OpenExisting),
                            imports[i], shapes[i], scale * world.Header.Width, scale * world.Header.Height);
                slot.ImportStaged = true;
            }
        }

        Outcome out = Captured(fileLimit, [&] {
            console::Report report{};
            pass(report, world, backup, layers);
        });
        platform::CloseFile(world.Handle);
        platform::ReleaseMemory(world.OffsetRow);
        out.World = Load(world.Path);
        for (int i = 0; i < kLayerCount; ++i)
            if (stages[i] == Stage::Export) out.Exports[i] = Load(layers[i].Path);
        return out;
    }

    // What a step prints, on the console and on standard error, run under a
    // file-size limit.
    template <typename Step>
    Outcome Captured(rlim_t fileLimit, Step step) {
        const std::string consolePath = dir_ + "/console", saidPath = dir_ + "/said";
        fflush(stdout);
        const int saved = dup(STDOUT_FILENO), savedErr = dup(STDERR_FILENO);
        const int capture = open(consolePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int captureErr = open(saidPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(capture, STDOUT_FILENO);
        dup2(captureErr, STDERR_FILENO);
        close(capture);
        close(captureErr);
        struct rlimit old {};
        getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit limit = old;
        limit.rlim_cur = fileLimit;
        setrlimit(RLIMIT_FSIZE, &limit);
        step();
        setrlimit(RLIMIT_FSIZE, &old);
        dup2(saved, STDOUT_FILENO);
        dup2(savedErr, STDERR_FILENO);
        close(saved);
        close(savedErr);
        Outcome out;
        const Bytes console = Load(consolePath), said = Load(saidPath);
        out.Console.assign(console.begin(), console.end());
        out.Said.assign(said.begin(), said.end());
        return out;
    }

    // Import files, and how each is read, for the layers that stages import.
    static void MakeImports(const Bytes& world, const Stage (&stages)[kLayerCount], std::mt19937_64& rng,
                            Bytes (&imports)[kLayerCount], ImportShape (&shapes)[kLayerCount]) {
        const std::uint32_t width = le::Get32(world.data() + 4), height = le::Get32(world.data() + 8);
        for (int i = 0; i < kLayerCount; ++i) {
            const std::uint64_t scale = i == kLargeMap ? 5 : 1;
            std::uint32_t start = 0;
            if (stages[i] != Stage::Import) continue;
            imports[i] = MakeImport(RowStride(scale * width) * scale * height, RowStride(scale * width) - scale * width,
                                    &start, rng);
            shapes[i] = RandomShape(start, rng);
        }
    }

    void Compare(const Bytes& world, const Stage (&stages)[kLayerCount], std::mt19937_64& rng,
                 const std::string& what) {
        Bytes imports[kLayerCount];
        ImportShape shapes[kLayerCount] = {};
        MakeImports(world, stages, rng, imports, shapes);
        const Outcome expected = Run(RunReferenceLmPass, world, stages, imports, shapes);
        const Outcome actual = Run(RunLmPass, world, stages, imports, shapes);
        ASSERT_EQ(actual.Console, expected.Console) << what;
        ASSERT_EQ(actual.Said, expected.Said) << what;
        ASSERT_TRUE(actual.World == expected.World) << what;
        for (int i = 0; i < kLayerCount; ++i)
            ASSERT_TRUE(actual.Exports[i] == expected.Exports[i]) << what << " layer " << i;
    }

    std::string dir_;
};

const Layout kLayouts[] = {Layout::InOrder, Layout::Shuffled, Layout::Duplicates,
                           Layout::Overlap, Layout::Odd,      Layout::Anywhere};

TEST_F(LmPassDiff, EveryStagingOnSmallWorlds) {
    std::mt19937_64 rng(20261207);
    for (std::uint32_t width = 1; width <= 9; ++width) {
        for (Layout layout : kLayouts) {
            const std::uint32_t height = 1 + rng() % 7;
            const Bytes world = MakeWorld(width, height, layout, rng);
            // Every one of the 26 ways to stage at least one layer.
            for (int code = 1; code < 27; ++code) {
                const Stage stages[kLayerCount] = {Stage(code % 3), Stage(code / 3 % 3), Stage(code / 9)};
                Compare(world, stages, rng,
                        "width " + std::to_string(width) + " layout " + std::to_string(int(layout)) + " staging " +
                            std::to_string(code));
            }
        }
    }
}

TEST_F(LmPassDiff, WidthsAroundTheSmallMapLimit) {
    std::mt19937_64 rng(7);
    for (std::uint32_t width : {2045u, 2046u, 2047u, 2048u}) {
        const Layout layout = kLayouts[width % 6];
        const Bytes world = MakeWorld(width, 3, layout, rng);
        for (int code : {13, 26, 2 * 1 + 1 * 3 + 2 * 9, 1 + 1 * 3 + 1 * 9}) {
            const Stage stages[kLayerCount] = {Stage(code % 3), Stage(code / 3 % 3), Stage(code / 9)};
            Compare(world, stages, rng, "width " + std::to_string(width) + " staging " + std::to_string(code));
        }
    }
}

// Batches of many rows, scattered records and ordered ones in one world.
TEST_F(LmPassDiff, LargerWorlds) {
    std::mt19937_64 rng(99);
    for (Layout layout : kLayouts) {
        const Bytes world = MakeWorld(300, 200, layout, rng);
        const Stage exports[kLayerCount] = {Stage::Export, Stage::Export, Stage::Export};
        const Stage imports[kLayerCount] = {Stage::Import, Stage::Import, Stage::Import};
        const Stage mixed[kLayerCount] = {Stage::Import, Stage::Export, Stage::Import};
        Compare(world, exports, rng, "exports " + std::to_string(int(layout)));
        Compare(world, imports, rng, "imports " + std::to_string(int(layout)));
        Compare(world, mixed, rng, "mixed " + std::to_string(int(layout)));
    }
}

// A file-size limit stops the pass: both name the same file in the same line.
// With the world backed up, an import's failed write of a record is reached.
TEST_F(LmPassDiff, FirstFailureGivesTheSameLine) {
    std::mt19937_64 rng(3);
    const Bytes world = MakeWorld(40, 30, Layout::Shuffled, rng);
    const Stage all[kLayerCount] = {Stage::Export, Stage::Export, Stage::Export};
    const Stage typeOnly[kLayerCount] = {Stage::Export, Stage::Export, Stage::None};
    const Stage imports[kLayerCount] = {Stage::Import, Stage::Import, Stage::Import};
    const Stage mixed[kLayerCount] = {Stage::Import, Stage::Export, Stage::None};
    // Limits below the size of the files each staging writes (LargeMap: 31078,
    // LandType and LandHeight: 2278 bytes), or inside the world's records
    // (4944 to 61344).
    const struct {
        const Stage (*Stages)[kLayerCount];
        rlim_t Limit;
        const char* Failing;
    } cases[] = {{&all, 1100, "out"},      {&all, 2000, "out"},       {&all, 5000, "out"},
                 {&all, 31000, "out2"},    {&typeOnly, 1079, "out"},  {&typeOnly, 1500, "out"},
                 {&typeOnly, 2277, "out"}, {&imports, 5000, "world"}, {&imports, 40000, "world"},
                 {&mixed, 30000, "world"}};
    for (const auto& c : cases) {
        Bytes files[kLayerCount];
        ImportShape shapes[kLayerCount] = {};
        MakeImports(world, *c.Stages, rng, files, shapes);
        const Outcome expected = Run(RunReferenceLmPass, world, *c.Stages, files, shapes, c.Limit);
        const Outcome actual = Run(RunLmPass, world, *c.Stages, files, shapes, c.Limit);
        EXPECT_NE(expected.Console.find("Error 27 writing " + dir_ + "/" + c.Failing), std::string::npos)
            << expected.Console;
        EXPECT_EQ(actual.Console, expected.Console) << c.Limit;
        EXPECT_EQ(actual.World.size(), world.size());
        if (c.Failing[0] == 'o') {
            EXPECT_TRUE(actual.World == world);  // exports alone never write it
        }
    }
}

// The SmallMap rows, with the world backed up: a failed write ends the line
// with the world's path.
TEST_F(LmPassDiff, SmallMapWriteFailureAfterTheBackup) {
    std::mt19937_64 rng(5);
    const Bytes worldBytes = MakeWorld(40, 30, Layout::InOrder, rng);
    const std::string worldPath = dir_ + "/world", bitmapPath = dir_ + "/in0", answers = dir_ + "/answers";
    Save(worldPath, worldBytes);
    BmpHeader header{};
    PrepareBmpHeader(header);
    SetBmpSize(header, 40, 30);
    Bytes bitmap(header.Bytes, header.Bytes + kBmpHeaderSize);
    bitmap.resize(kBmpHeaderSize + 40 * 30, 7);
    Save(bitmapPath, bitmap);
    const std::string answer = bitmapPath + "\n";
    Save(answers, Bytes(answer.begin(), answer.end()));
    ASSERT_NE(std::freopen(answers.c_str(), "r", stdin), nullptr);  // the Open dialog's answer

    WorldBackup backup{};
    backup.Made = true;
    const platform::FileHandle world =
        platform::OpenFile(worldPath.c_str(), platform::Share::Read, platform::Disposition::OpenExisting);
    const std::uint32_t blockAt = le::Get32(worldBytes.data() + 28);
    const SmallMapBlock block{world, worldPath.c_str(), 40, 30, blockAt};
    char name[platform::kFileNameBufferSize] = {};
    platform::FileDialog dialog{nullptr, "Bitmap files (*.bmp)", "*.BMP", "BMP", 0, name, sizeof name, nullptr};
    BitmapState state{};
    console::Report report{};
    const std::string console =
        Captured(blockAt + 400, [&] { ImportSmallMap(report, block, backup, dialog, state); }).Console;
    platform::CloseFile(world);
    EXPECT_EQ(console, "Importing " + bitmapPath + "...Error 27 writing " + worldPath + "!\r\n");
    EXPECT_EQ(Load(worldPath).size(), worldBytes.size());
}

}  // namespace
