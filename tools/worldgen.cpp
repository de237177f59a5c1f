// Makes world files and bitmaps for the demo, the tests and the benchmark.
//
//   worldgen world OUT --width W --height H [--seed S] [--layout L]
//            [--smallmap before|after] [--junk] [--max-fields]
//            [--broken KIND] [--bad-cell X,Y]
//   worldgen bmp OUT --width W --height H [--seed S] [--bits B]
//            [--palette N] [--compression C] [--pattern P] [--truncate N]
//            [--top-down]
//
// Layouts: inorder, shuffled, duplicates, odd, overlap.
// Broken kinds: empty, short-header, width0, height0, table-past-end,
//   smallmap-past-end, smallmap-in-table, record-past-end, record-in-header,
//   record-in-table.
// Patterns: terrain, gradient, noise, values, const:N.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "platform/le_bytes.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Options {
    std::map<std::string, std::string> Values;
    bool Has(const std::string& key) const { return Values.count(key) != 0; }
    std::string Get(const std::string& key, const std::string& fallback) const {
        auto it = Values.find(key);
        return it == Values.end() ? fallback : it->second;
    }
    std::uint64_t Number(const std::string& key, std::uint64_t fallback) const {
        return Has(key) ? std::strtoull(Values.at(key).c_str(), nullptr, 0) : fallback;
    }
};

[[noreturn]] void Usage(const char* why) {
    std::fprintf(stderr, "worldgen: %s\n(see the top of tools/worldgen.cpp for the options)\n", why);
    std::exit(2);
}

// Smooth terrain heights 0..255: a few octaves of value noise on a lattice.
class Terrain {
public:
    Terrain(std::uint32_t seed) : seed_(seed) {}

    double HeightAt(double x, double y) const {
        double sum = 0, weight = 0, amplitude = 1, scale = 1.0 / 48;
        for (int octave = 0; octave < 4; ++octave) {
            sum += amplitude * Smooth(x * scale, y * scale, octave);
            weight += amplitude;
            amplitude *= 0.5;
            scale *= 2;
        }
        return 255.0 * sum / weight;
    }

private:
    double Lattice(std::int64_t x, std::int64_t y, int octave) const {
        std::uint64_t h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ull ^
                          static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4Full ^
                          (static_cast<std::uint64_t>(seed_) << 8) ^ static_cast<std::uint64_t>(octave);
        h ^= h >> 31;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
        return static_cast<double>(h & 0xFFFF) / 65535.0;
    }
    double Smooth(double x, double y, int octave) const {
        const double fx = std::floor(x), fy = std::floor(y);
        const auto ix = static_cast<std::int64_t>(fx), iy = static_cast<std::int64_t>(fy);
        double tx = x - fx, ty = y - fy;
        tx = tx * tx * (3 - 2 * tx);
        ty = ty * ty * (3 - 2 * ty);
        const double a = Lattice(ix, iy, octave), b = Lattice(ix + 1, iy, octave);
        const double c = Lattice(ix, iy + 1, octave), d = Lattice(ix + 1, iy + 1, octave);
        return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
    }
    std::uint32_t seed_;
};

std::uint8_t Clamp(double v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0)); }

void WriteFileOrDie(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) ||
        std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

int MakeWorld(const std::string& out, const Options& o) {
    const auto width = static_cast<std::uint32_t>(o.Number("width", 64));
    const auto height = static_cast<std::uint32_t>(o.Number("height", 48));
    const auto seed = static_cast<std::uint32_t>(o.Number("seed", 1));
    const std::string layout = o.Get("layout", "inorder");
    const std::string broken = o.Get("broken", "");
    std::mt19937_64 rng(seed);

    if (broken == "empty") {
        WriteFileOrDie(out, {});
        return 0;
    }

    const std::uint64_t cells = std::uint64_t{width} * height;
    const std::uint64_t tableEnd = 144 + 4 * cells;

    // Where each cell's record lies, relative to the start of the record area.
    std::vector<std::uint64_t> place(cells);
    std::uint64_t recordArea = 47 * cells;
    if (layout == "inorder" || layout == "shuffled" || layout == "duplicates") {
        std::vector<std::uint64_t> slot(cells);
        std::iota(slot.begin(), slot.end(), 0);
        if (layout == "shuffled") std::shuffle(slot.begin(), slot.end(), rng);
        for (std::uint64_t i = 0; i < cells; ++i) place[i] = 47 * slot[i];
        if (layout == "duplicates") {
            // About one cell in eight shares the record of another cell.
            for (std::uint64_t i = 0; i < cells; ++i)
                if (rng() % 8 == 0) place[i] = place[rng() % cells];
        }
    } else if (layout == "odd") {
        std::uint64_t at = 1;
        for (std::uint64_t i = 0; i < cells; ++i) {
            place[i] = at;
            at += 47 + rng() % 4;
        }
        recordArea = at;
    } else if (layout == "overlap") {
        for (std::uint64_t i = 0; i < cells; ++i) place[i] = 20 * i;
        recordArea = 20 * cells + 27;
    } else {
        Usage("unknown layout");
    }

    const bool smallMapFirst = o.Get("smallmap", "after") == "before";
    const std::uint64_t recordStart = smallMapFirst ? tableEnd + cells : tableEnd;
    const std::uint64_t smallMapStart = smallMapFirst ? tableEnd : tableEnd + recordArea;
    Bytes file(smallMapFirst ? recordStart + recordArea : smallMapStart + cells);

    std::uint8_t* h = file.data();
    le::Put32(h + 0, 4);
    le::Put32(h + 4, width);
    le::Put32(h + 8, height);
    le::Put32(h + 12, 0);
    le::Put32(h + 16, static_cast<std::uint32_t>(recordStart));
    le::Put32(h + 20, 1);
    le::Put32(h + 24, 0);
    le::Put32(h + 28, static_cast<std::uint32_t>(smallMapStart));
    if (o.Has("junk"))
        for (int i = 32; i < 144; ++i) h[i] = static_cast<std::uint8_t>(rng());
    if (o.Has("max-fields"))
        for (int offset : {0, 12, 16, 20, 24}) le::Put32(h + offset, 0xFFFFFFFFu);

    // Records: carried bytes are noise; the layers follow the terrain. Cells
    // that share a record are written in order, so the later one stands.
    // Heights at cell corners, one row of them at a time; the LargeMap detail
    // is the cell's corners blended, with a little noise.
    const Terrain terrain(seed);
    std::vector<double> upper(width + 1), lower(width + 1);
    for (std::uint64_t i = 0; i < cells; ++i) {
        const std::uint64_t x = i % width, y = i / width;
        if (x == 0) {
            for (std::uint32_t c = 0; c <= width; ++c) {
                upper[c] = y == 0 ? terrain.HeightAt(c, 0.0) : lower[c];
            }
            for (std::uint32_t c = 0; c <= width; ++c) lower[c] = terrain.HeightAt(c, static_cast<double>(y + 1));
        }
        std::uint8_t* r = file.data() + recordStart + place[i];
        std::uint8_t record[48];
        for (int b = 0; b < 48; b += 8) {
            const std::uint64_t bits = rng();
            std::memcpy(record + b, &bits, 8);
        }
        const double ground = (upper[x] + upper[x + 1] + lower[x] + lower[x + 1]) / 4;
        record[8] = ground < 100 ? 0 : ground < 160 ? 1 : 2;
        record[9] = Clamp(ground);
        for (int k = 0; k < 5; ++k) {
            const double v = (k + 0.5) / 5;
            for (int j = 0; j < 5; ++j) {
                const double u = (j + 0.5) / 5;
                const double h =
                    (1 - v) * ((1 - u) * upper[x] + u * upper[x + 1]) + v * ((1 - u) * lower[x] + u * lower[x + 1]);
                record[22 + 5 * k + j] = Clamp(h + static_cast<double>(record[22 + 5 * k + j] % 9) - 4);
            }
        }
        std::memcpy(r, record, 47);
        le::Put32(h + 144 + 4 * i, static_cast<std::uint32_t>(recordStart + place[i]));
        file[smallMapStart + i] = Clamp(ground * 0.8 + 20);
    }

    // Deliberate faults for the world checks.
    const std::string badCell = o.Get("bad-cell", "0,0");
    const std::uint64_t bx = std::strtoull(badCell.c_str(), nullptr, 10);
    const std::uint64_t by = std::strtoull(badCell.c_str() + badCell.find(',') + 1, nullptr, 10);
    std::uint8_t* badEntry = h + 144 + 4 * (by * width + bx);
    if (broken == "short-header")
        file.resize(8);  // Height and later fields missing
    else if (broken == "width0")
        le::Put32(h + 4, 0);
    else if (broken == "height0")
        le::Put32(h + 8, 0);
    else if (broken == "table-past-end")
        file.resize(tableEnd - 1);
    else if (broken == "smallmap-past-end")
        le::Put32(h + 28, static_cast<std::uint32_t>(file.size() - cells + 1));
    else if (broken == "smallmap-in-table")
        le::Put32(h + 28, static_cast<std::uint32_t>(tableEnd - 1));
    else if (broken == "record-past-end")
        le::Put32(badEntry, static_cast<std::uint32_t>(file.size() - 46));
    else if (broken == "record-in-header")
        le::Put32(badEntry, 10);
    else if (broken == "record-in-table")
        le::Put32(badEntry, static_cast<std::uint32_t>(tableEnd - 1));
    else if (!broken.empty())
        Usage("unknown broken kind");

    WriteFileOrDie(out, file);
    return 0;
}

int MakeBitmap(const std::string& out, const Options& o) {
    const auto width = static_cast<std::uint32_t>(o.Number("width", 64));
    const auto height = static_cast<std::uint32_t>(o.Number("height", 48));
    const auto bits = static_cast<std::uint16_t>(o.Number("bits", 8));
    const auto colours = static_cast<std::uint32_t>(o.Number("palette", bits == 8 ? 256 : 0));
    const std::string pattern = o.Get("pattern", "terrain");
    std::mt19937_64 rng(o.Number("seed", 1));

    const std::uint32_t bytesPerPixel = bits == 24 ? 3 : 1;
    const std::uint64_t stride = (std::uint64_t{width} * bytesPerPixel + 3) & ~std::uint64_t{3};
    const std::uint32_t pixelStart = 54 + 4 * colours;
    Bytes file(pixelStart + stride * height);
    std::uint8_t* h = file.data();
    h[0] = 'B';
    h[1] = 'M';
    le::Put32(h + 2, static_cast<std::uint32_t>(file.size()));
    le::Put32(h + 10, pixelStart);
    le::Put32(h + 14, 40);
    le::Put32(h + 18, width);
    le::Put32(h + 22, o.Has("top-down") ? static_cast<std::uint32_t>(-static_cast<std::int64_t>(height)) : height);
    le::Put16(h + 26, 1);
    le::Put16(h + 28, bits);
    le::Put32(h + 30, static_cast<std::uint32_t>(o.Number("compression", 0)));
    le::Put32(h + 34, static_cast<std::uint32_t>(stride * height));
    le::Put32(h + 38, 2835);
    le::Put32(h + 42, 2835);
    le::Put32(h + 46, colours);
    for (std::uint32_t i = 0; i < colours; ++i) {
        // A coloured palette: pixel bytes must be taken as values, not looked up.
        h[54 + 4 * i] = static_cast<std::uint8_t>(i * 7);
        h[55 + 4 * i] = static_cast<std::uint8_t>(255 - i);
        h[56 + 4 * i] = static_cast<std::uint8_t>(i * 3);
    }

    const Terrain terrain(static_cast<std::uint32_t>(o.Number("seed", 1)));
    std::uint64_t index = 0;
    for (std::uint32_t r = 0; r < height; ++r) {
        const std::uint32_t top = height - 1 - r;  // stored rows run bottom-up
        for (std::uint32_t x = 0; x < width * bytesPerPixel; ++x, ++index) {
            std::uint8_t v = 0;
            if (pattern == "terrain")
                v = Clamp(terrain.HeightAt(x / 5.0, top / 5.0));
            else if (pattern == "gradient")
                v = static_cast<std::uint8_t>(x + top);
            else if (pattern == "noise")
                v = static_cast<std::uint8_t>(rng());
            else if (pattern == "values")
                v = static_cast<std::uint8_t>(index);
            else if (pattern.rfind("const:", 0) == 0)
                v = static_cast<std::uint8_t>(std::atoi(pattern.c_str() + 6));
            else
                Usage("unknown pattern");
            file[pixelStart + stride * r + x] = v;
        }
    }
    if (o.Has("truncate")) file.resize(pixelStart + o.Number("truncate", 0));
    WriteFileOrDie(out, file);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) Usage("usage: worldgen world|bmp OUT [--option value ...]");
    const std::string command = argv[1];
    const std::string out = argv[2];
    Options o;
    for (int i = 3; i < argc; ++i) {
        std::string key = argv[i];
        if (key.rfind("--", 0) != 0) Usage(("unexpected argument " + key).c_str());
        key = key.substr(2);
        const bool flag = key == "junk" || key == "max-fields" || key == "top-down";
        if (flag) {
            o.Values[key] = "1";
        } else {
            if (i + 1 >= argc) Usage(("missing value for --" + key).c_str());
            o.Values[key] = argv[++i];
        }
    }
    if (command == "world") return MakeWorld(out, o);
    if (command == "bmp") return MakeBitmap(out, o);
    Usage("the first argument is world or bmp");
}
