// Runs the whole tool in this process on files in a private folder, with the
// answers it would read from standard input, and checks what it left behind.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "driver/state.h"
#include "platform/le_bytes.h"
#include "support/test_files.h"
#include "world/world.h"

namespace fuzz {

using Bytes = std::vector<std::uint8_t>;

inline void Die(const char* why) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", why);
    std::abort();
}

using test_files::Load;
using test_files::Save;

inline bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

inline char g_workDir[] = "/tmp/velmarsh-fuzz-XXXXXX";

// A private working folder, gone again when the process exits normally (a
// crash keeps it, with the files that show what happened); the console goes
// nowhere. The tool's own fault handlers stay out, so that the sanitizers and
// the fuzzer see every crash.
inline void Setup() {
    static bool done = false;
    if (done) return;
    done = true;
    if (mkdtemp(g_workDir) == nullptr || chdir(g_workDir) != 0) Die("no working folder");
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(g_workDir, ignored);
    });
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
}

// One run of the tool with these answer lines.
inline void RunWithAnswers(const std::string& answers) {
    Save("answers.txt", reinterpret_cast<const std::uint8_t*>(answers.data()), answers.size());
    if (std::freopen("answers.txt", "r", stdin) == nullptr) Die("no answers");
    static AppState state;
    state = AppState{};
    RunTool(state);
}

struct WorldShape {
    bool Accepted;  // passes the world checks, so the tool works on it
    std::uint32_t Width, Height;
    std::vector<bool> Writable;  // the record and SmallMap bytes
};

// What the tool may write in this world: nothing if it refuses it.
inline WorldShape ShapeOf(const Bytes& world) {
    WorldShape shape{};
    WldHeader header{};
    for (std::size_t i = 0; i < kWldHeaderSize && i < world.size(); ++i) header.Raw[i] = world[i];
    DecodeWldHeader(header);
    shape.Width = header.Width;
    shape.Height = header.Height;
    if (!JudgeWorldSpan(header, world.size()).Line.empty()) return shape;
    const std::uint64_t cells = std::uint64_t{header.Width} * header.Height;
    const std::uint64_t tableEnd = OffsetTableEnd(header);
    shape.Writable.assign(world.size(), false);
    for (std::uint64_t c = 0; c < cells; ++c) {
        const std::uint32_t p = le::Get32(world.data() + kOffsetTableStart + 4 * c);
        if (!RecordLiesInside(p, tableEnd, world.size())) return shape;
        for (std::uint32_t i = 0; i < kLmRecordSize; ++i) shape.Writable[p + i] = true;
    }
    for (std::uint64_t i = 0; i < cells; ++i) shape.Writable[header.SmallMapOffset + i] = true;
    shape.Accepted = true;
    return shape;
}

}  // namespace fuzz
