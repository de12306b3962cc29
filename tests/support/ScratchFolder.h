#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it at the end of
// the test; plus small helpers to read and write whole files.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace ostrim::test {

class ScratchFolder {
public:
    ScratchFolder()
    {
#ifdef _WIN32
        // No mkdtemp: a random name, taken only if nobody has it yet.
        std::random_device random;
        for (int attempt = 0; path_.empty(); ++attempt) {
            auto candidate = std::filesystem::temp_directory_path() /
                             ("ostrim-" + std::to_string(random()));
            std::error_code failed;
            if (std::filesystem::create_directory(candidate, failed))
                path_ = candidate;
            else if (attempt > 100)
                std::abort();
        }
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "ostrim-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        path_ = pattern;
#endif
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        // A test may have made a sub-folder read-only; removal needs write permission on it.
        for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
            if (entry.is_directory(ignored) && !entry.is_symlink(ignored))
                std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
        }
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

} // namespace ostrim::test
