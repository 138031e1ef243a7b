#pragma once

#include <filesystem>

namespace kestrane::testing {

// A fresh folder under the system's temporary directory, removed with its contents.
class TempDirectory {
  public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes `contents` to `relative` under the folder, creating parent folders.
    std::filesystem::path write(const std::filesystem::path& relative,
                                const std::string& contents) const;

  private:
    std::filesystem::path path_;
};

}  // namespace kestrane::testing
