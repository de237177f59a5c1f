// What the tests that work on files share: whole files in and out, and a
// folder of their own that goes when they are done.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace test_files {

using Bytes = std::vector<std::uint8_t>;

inline void Save(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline void Save(const std::string& path, const Bytes& bytes) { Save(path, bytes.data(), bytes.size()); }

inline Bytes Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A new folder under the system's temporary one, named for its user.
inline std::string MakeFolder(const std::string& name) {
    std::random_device random;
    for (;;) {
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() / ("velmarsh-" + name + "-" + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(folder, error)) return folder.string();
    }
}

inline void RemoveFolder(const std::string& folder) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

}  // namespace test_files
