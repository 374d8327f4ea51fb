// A temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <random>
#include <string>

class ScratchDir {
public:
    ScratchDir()
    {
        std::random_device random;
        m_path = std::filesystem::temp_directory_path() /
                 ("quillet-test-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(m_path);
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string Path(const std::string& name) const { return (m_path / name).string(); }
    std::string Root() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};
