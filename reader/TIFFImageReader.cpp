#include "TIFFImageReader.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <system_error>
#include <type_traits>

#include <korvel.h>

namespace ImageReader {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isAlnum(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool hasTiffExtension(const std::string& name)
{
    auto endsWith = [&name](const char* ext) {
        const std::string e(ext);
        if (name.size() < e.size())
            return false;
        for (size_t i = 0; i < e.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(name[name.size() - e.size() + i])) != e[i])
                return false;
        }
        return true;
    };
    return endsWith(".tif") || endsWith(".tiff");
}

// The leading decimal digits of at most `width` characters from `pos`; 0 when there are
// none. Numbers too large for an image extent are reported as -1 (ignored).
long long readNumber(const std::string& text, size_t pos, int width)
{
    long long value = 0;
    for (int i = 0; i < width && pos + i < text.size() && isDigit(text[pos + i]); ++i) {
        value = value * 10 + (text[pos + i] - '0');
        if (value >= INT_MAX)
            return -1;
    }
    return value;
}

} // namespace

template <class T>
void TIFFImageReader<T>::Open(const std::filesystem::path& path)
{
    m_patterns.clear();
    m_digits = Vector();
    m_maxindex = Vector();
    m_bits = 0;

    std::error_code ec;
    const std::filesystem::path folderPath = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string folder = folderPath.string();
    if (folder.back() != '/')
        folder += '/';
    const std::string name = path.filename().string();
    if (name.empty() || !std::filesystem::is_regular_file(path, ec))
        return;

    IMAGE image = {0, 0, 0, 0, nullptr};
    if (SimpleTIFFReadImage((folder + name).c_str(), &image) != 0)
        return;
    const Vector plane(image.width, image.height);
    const int bits = image.bits;
    DeleteImage(&image);
    if (plane[0] <= 0 || plane[1] <= 0)
        return;
    m_maxindex = plane;
    m_bits = bits;

    std::string segment = folder;
    size_t cursor = 0;
    while (cursor < name.size()) {
        while (cursor < name.size() && !isDigit(name[cursor]))
            segment += name[cursor++];
        m_patterns.push_back(segment);
        segment.clear();
        const size_t start = cursor;
        while (cursor < name.size() && isDigit(name[cursor]))
            ++cursor;
        if (cursor > start) {
            m_digits.push_back(static_cast<int>(cursor - start));
            m_maxindex.push_back(0);
        }
    }

    // Every .tif and .tiff file of the folder is matched against the template; a segment
    // that does not match is skipped and the next one tried at the same place.
    for (std::filesystem::directory_iterator it(folderPath, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (!hasTiffExtension(entry) || it->is_directory(ec))
            continue;
        const std::string full = folder + entry;
        size_t at = 0;
        for (size_t k = 0; k < m_patterns.size(); ++k) {
            const std::string& pattern = m_patterns[k];
            if (full.compare(at, pattern.size(), pattern) != 0)
                continue;
            at += pattern.size();
            if (k < m_digits.size()) {
                const int width = m_digits[static_cast<int>(k)];
                const long long number = readNumber(full, at, width);
                int& maximum = m_maxindex[static_cast<int>(k) + 2];
                if (number > maximum)
                    maximum = static_cast<int>(number);
                at = std::min(full.size(), at + static_cast<size_t>(width));
            }
        }
    }
}

template <class T>
Vector TIFFImageReader<T>::GetSize()
{
    Vector size;
    for (unsigned int i = 0; i < m_maxindex.size(); ++i)
        size.push_back(i < 2 ? m_maxindex[static_cast<int>(i)] : m_maxindex[static_cast<int>(i)] + 1);
    return size;
}

template <class T>
std::string TIFFImageReader<T>::FileName(const Vector& position) const
{
    std::string name;
    for (size_t k = 0; k < m_patterns.size(); ++k) {
        name += m_patterns[k];
        if (k < m_digits.size()) {
            std::string number = std::to_string(position[static_cast<int>(k)]);
            const size_t width = static_cast<size_t>(m_digits[static_cast<int>(k)]);
            if (number.size() < width)
                number.insert(0, width - number.size(), '0');
            name += number;
        }
    }
    return name;
}

template <class T>
ImageSlice<T> TIFFImageReader<T>::GetSlice(const Vector& position)
{
    if (m_patterns.empty() || position.size() < m_digits.size())
        return ImageSlice<T>();
    for (unsigned int k = 0; k < m_digits.size(); ++k) {
        if (position[static_cast<int>(k)] < 0)
            return ImageSlice<T>();
    }

    IMAGE image = {0, 0, 0, 0, nullptr};
    if (SimpleTIFFReadImage(FileName(position).c_str(), &image) != 0)
        return ImageSlice<T>();
    // A plane that does not match the chosen file would reach the viewer with a size or
    // depth it does not expect; it counts as missing.
    if (image.width != m_maxindex[0] || image.height != m_maxindex[1] || image.bits != m_bits
        || image.channels != 1) {
        DeleteImage(&image);
        return ImageSlice<T>();
    }
    const Vector size(image.width, image.height);
    const size_t n = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);

    // 8-bit samples widen and 32-bit ones keep their low 16 bits, as Korvel converts them.
    if (ConvertImageInt16(&image) != 0) {
        DeleteImage(&image);
        return ImageSlice<T>();
    }
    if constexpr (std::is_same_v<T, std::uint16_t>)
        return ImageSlice<T>(size, static_cast<T*>(image.data));
    T* data = static_cast<T*>(std::malloc(n * sizeof(T)));
    if (data) {
        const auto* in = static_cast<const std::uint16_t*>(image.data);
        for (size_t i = 0; i < n; ++i)
            data[i] = static_cast<T>(in[i]);
    }
    DeleteImage(&image);
    return ImageSlice<T>(size, data);
}

template <class T>
std::string TIFFImageReader<T>::GetDimName(unsigned int dim)
{
    if (dim >= m_maxindex.size())
        return std::string();
    if (dim == 0)
        return "x";
    if (dim == 1)
        return "y";
    const std::string& segment = m_patterns[dim - 2];
    size_t start = segment.size();
    while (start > 0 && isAlnum(segment[start - 1]))
        --start;
    return segment.substr(start);
}

template class TIFFImageReader<unsigned short>;

} // namespace ImageReader
