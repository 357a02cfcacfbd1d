#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include <korvel.h>

namespace korveltest {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder per test, removed afterwards.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "korvel-test-XXXXXX").string();
        m_path = mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteFile(const std::string& path, const std::string& text)
{
    WriteFile(path, Bytes(text.begin(), text.end()));
}

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Owns a record's block for the length of a test.
struct Image : IMAGE
{
    Image() : IMAGE{0, 0, 0, 0, nullptr} {}
    ~Image() { DeleteImage(this); }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    const std::uint8_t* Bytes8() const { return static_cast<const std::uint8_t*>(data); }
    const std::uint16_t* Samples16() const { return static_cast<const std::uint16_t*>(data); }
    const std::uint32_t* Samples32() const { return static_cast<const std::uint32_t*>(data); }
    // The first `n` bytes of the block.
    Bytes Head(size_t n) const { return Bytes(Bytes8(), Bytes8() + n); }
};

// Descriptors this process holds open; a reader that forgets to close raises it.
inline size_t OpenFileCount()
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

inline std::string TestData(const std::string& relative)
{
    return std::string(LUMORA_TESTDATA) + "/" + relative;
}

} // namespace korveltest
