#pragma once

#include "TestData.h"

#include <gtest/gtest.h>

#include <cctype>
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
using ReadFn = int32_t (*)(const char*, IMAGE*);

inline Bytes Text(const std::string& text, const Bytes& tail = {})
{
    Bytes out(text.begin(), text.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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
    // Writes the named file and returns its path.
    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        std::ofstream(File(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return File(name);
    }

private:
    std::filesystem::path m_path;
};

// Owns a record's block for the length of a test.
struct Image : IMAGE
{
    Image() : IMAGE{0, 0, 0, 0, nullptr} {}
    ~Image() { DeleteImage(this); }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    const std::uint8_t* Bytes8() const { return static_cast<const std::uint8_t*>(data); }
    const std::uint16_t* Samples16() const { return static_cast<const std::uint16_t*>(data); }
    // The first `n` bytes of the block; reading them lets the sanitizer build check the block's length.
    Bytes Head(size_t n) const { return Bytes(Bytes8(), Bytes8() + n); }
    size_t Size() const { return static_cast<size_t>(width) * height * channels * bits / 8; }
    // Stores sample `i` at the record's depth.
    void Set(size_t i, std::uint32_t value)
    {
        if (bits == 8)
            static_cast<std::uint8_t*>(data)[i] = static_cast<std::uint8_t>(value);
        else if (bits == 16)
            static_cast<std::uint16_t*>(data)[i] = static_cast<std::uint16_t>(value);
        else
            static_cast<std::uint32_t*>(data)[i] = value;
    }
};

// Fails the test when descriptors were left open while it lived: a reader forgot to close.
class NoFileLeftOpen
{
public:
    NoFileLeftOpen() : m_open(Count()) {}
    ~NoFileLeftOpen() { EXPECT_EQ(Count(), m_open) << "every path closes its file"; }

private:
    static size_t Count()
    {
        const std::filesystem::directory_iterator fds("/proc/self/fd");
        return static_cast<size_t>(std::distance(begin(fds), end(fds)));
    }
    size_t m_open;
};

// A file's expected reading: the code, and on success the bytes of the whole block.
struct FileCase
{
    std::string name;
    Bytes file;
    int32_t result;
    Bytes pixels;
};

inline void ExpectReads(ReadFn reader, const std::vector<FileCase>& cases)
{
    TempDir dir;
    const NoFileLeftOpen guard;
    for (const FileCase& c : cases) {
        Image image;
        EXPECT_EQ(reader(dir.Write("f", c.file).c_str(), &image), c.result) << c.name;
        EXPECT_EQ(image.data == nullptr, c.result != 0) << c.name;
        if (c.result == 0 && image.data) {
            EXPECT_EQ(image.Size(), c.pixels.size()) << c.name;
            EXPECT_EQ(image.Head(c.pixels.size()), c.pixels) << c.name;
        }
    }
}

inline std::string TestData(const std::string& relative)
{
    return testdata::Path(relative);
}

// Pixels of a binary PGM/PPM with maxval 255 as netpbm writes it: magic, width, height
// and maxval, each followed by one whitespace character. Empty when the file is short.
inline Bytes NetpbmPixels(const std::string& path, size_t count)
{
    const Bytes file = ReadFile(path);
    size_t pos = 0;
    for (int field = 0; field < 4; ++field) {
        while (pos < file.size() && std::isspace(file[pos]))
            ++pos;
        while (pos < file.size() && !std::isspace(file[pos]))
            ++pos;
    }
    ++pos;
    return pos + count <= file.size() ? Bytes(file.begin() + static_cast<long>(pos), file.begin() + static_cast<long>(pos + count))
                                      : Bytes();
}

} // namespace korveltest
