#pragma once
// A scratch folder with string paths and a file writer, for tests that build files by name.

#include "tests/support/ScratchFolder.h"

#include <string>
#include <string_view>

namespace ostrim::test {

class TempDir {
public:
    const std::string& Path() const { return path_; }
    std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

    // Writes `content` byte for byte and returns the file's path.
    std::string Write(std::string_view name, std::string_view content) const
    {
        std::string path = File(name);
        WriteFile(path, std::string(content));
        return path;
    }

private:
    ScratchFolder folder_;
    std::string path_ = folder_.Path().string();
};

} // namespace ostrim::test
