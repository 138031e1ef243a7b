#include "support/TempDirectory.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace kestrane::testing {

TempDirectory::TempDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kestrane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDirectory::write(const std::filesystem::path& relative,
                                           const std::string& contents) const {
    const auto target = path_ / relative;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream(target, std::ios::binary) << contents;
    return target;
}

}  // namespace kestrane::testing
