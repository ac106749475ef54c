#pragma once

#include <cctype>
#include <filesystem>
#include <string>
#include <string_view>

namespace lumidex::test {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Whole-file helpers for tests; they fail the test on error.
std::string ReadFileOrFail(const std::filesystem::path& file);
void WriteFileOrFail(const std::filesystem::path& file, std::string_view bytes);

// A table row's name as a test name: every character that is not a letter
// or digit becomes '_'. For INSTANTIATE_TEST_SUITE_P over rows with a name.
struct RowName {
    template <typename Info> std::string operator()(const Info& info) const {
        std::string name = info.param.name;
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch))) {
                ch = '_';
            }
        }
        return name;
    }
};

} // namespace lumidex::test
