#include "tests/support/temp_dir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>

namespace lumidex::test {

TempDir::TempDir() {
    // A random name that does not exist yet; create_directory tells whether
    // this call made it, so two tests never share a directory.
    std::random_device seed;
    std::mt19937_64 random(seed());
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::ostringstream leaf;
        leaf << "lumidex-test." << std::hex << random();
        std::error_code ec;
        if (std::filesystem::create_directory(base / leaf.str(), ec)) {
            path_ = base / leaf.str();
            return;
        }
    }
    ADD_FAILURE() << "cannot create a temporary directory under " << base;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFileOrFail(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << file;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFileOrFail(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << "cannot write " << file;
}

} // namespace lumidex::test
