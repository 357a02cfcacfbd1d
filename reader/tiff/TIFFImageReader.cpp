#include "TIFFImageReader.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <limits>
#include <system_error>

#include "Diagnostics.h"
#include "TiffDescription.h"

namespace ImageReader {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Splits "name.ext" into "name" and ".ext" (lower case); a leading dot is part of the name.
void splitExtension(const std::string& fileName, std::string& stem, std::string& extension)
{
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        stem = fileName;
        extension.clear();
        return;
    }
    stem = fileName.substr(0, dot);
    extension = lower(fileName.substr(dot));
}

bool isTiffExtension(const std::string& extension)
{
    return extension == ".tif" || extension == ".tiff";
}

} // namespace

SeriesTemplate::SeriesTemplate(const std::string& fileName)
{
    std::string stem;
    splitExtension(fileName, stem, m_extension);
    std::string text;
    for (size_t i = 0; i < stem.size();) {
        if (!isDigit(stem[i])) {
            text += stem[i++];
            continue;
        }
        const size_t start = i;
        while (i < stem.size() && isDigit(stem[i]))
            ++i;
        m_text.push_back(text);
        text.clear();
        m_widths.push_back(i - start);
        m_padded.push_back(stem[start] == '0' && i - start > 1);
    }
    m_text.push_back(text);
}

bool SeriesTemplate::Match(const std::string& fileName, std::vector<long long>& numbers) const
{
    std::string stem, extension;
    splitExtension(fileName, stem, extension);
    if (extension != m_extension && !(isTiffExtension(extension) && isTiffExtension(m_extension)))
        return false;
    numbers.clear();
    size_t at = 0;
    for (size_t k = 0; k < m_text.size(); ++k) {
        const std::string& text = m_text[k];
        if (stem.compare(at, text.size(), text) != 0)
            return false;
        at += text.size();
        if (k == m_widths.size())
            return at == stem.size();
        const size_t start = at;
        while (at < stem.size() && isDigit(stem[at]))
            ++at;
        const size_t width = at - start;
        if (width == 0 || width > 9) // more than an extent can hold
            return false;
        const bool leadingZero = stem[start] == '0' && width > 1;
        // The chosen name may be past its padding (img_105 of img_00 ... img_119): then a
        // narrower padded number is one of the same series too.
        const bool fits = width == m_widths[k] || (!leadingZero && (!m_padded[k] || width > m_widths[k])) ||
                          (leadingZero && !m_padded[k] && width < m_widths[k]);
        if (!fits)
            return false;
        numbers.push_back(std::stoll(stem.substr(start, width)));
    }
    return false;
}

std::string SeriesTemplate::RunName(size_t k) const
{
    // "img_001" is "img", as "z012" is "z": separators just before the number are skipped.
    const std::string& text = m_text[k];
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == '_' || text[end - 1] == '-' || text[end - 1] == ' ' || text[end - 1] == '.'))
        --end;
    size_t start = end;
    while (start > 0 && isLetter(text[start - 1]))
        --start;
    return text.substr(start, end - start);
}

template <class T>
void TIFFImageReader<T>::Open(const std::filesystem::path& path)
{
    this->Reset();
    m_files.clear();
    m_strides.clear();
    m_fileAt.clear();
    m_initial = Vector();

    std::error_code ec;
    const std::string name = path.filename().string();
    if (name.empty() || !std::filesystem::is_regular_file(path, ec)) {
        this->Fail("file not found");
        return;
    }
    TiffFile file;
    file.ShareReported(this->m_reported);
    std::string error;
    if (!file.Open(path.string(), false, error)) {
        this->Fail(error);
        return;
    }
    double nm[3];
    PixelSizesOf(file.Layout(), nm);
    this->SetPlaneDims(file.Layout(), nm[0], nm[1]);
    // The range and table ImageJ saved with the chosen file stand for the series.
    ImageJDescription ij;
    if (file.Layout().samples == 1 && ParseImageJDescription(file.Layout().description, ij))
        this->m_hints = ImageJChannelHints(ij, file.Layout().imagej, 1);
    file.Close();

    // The folder's matching names, in name order so that the first of two names for the
    // same numbers (img_7, img_07) wins whatever order the folder lists them in.
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    const SeriesTemplate pattern(name);
    std::vector<std::pair<std::string, std::vector<long long>>> found;
    std::vector<long long> numbers;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        std::error_code kind;
        if (pattern.Match(entry, numbers) && !it->is_directory(kind))
            found.emplace_back(entry, numbers);
    }
    if (found.empty() && pattern.Match(name, numbers)) // a folder that cannot be listed
        found.emplace_back(name, numbers);
    std::sort(found.begin(), found.end());

    const size_t runs = pattern.Runs();
    std::vector<long long> lo(runs, std::numeric_limits<long long>::max()), hi(runs, -1);
    for (const auto& f : found)
        for (size_t k = 0; k < runs; ++k) {
            lo[k] = std::min(lo[k], f.second[k]);
            hi[k] = std::max(hi[k], f.second[k]);
        }

    // Numbers that vary are the dimensions; a run without letters before it is called z
    // (or t, then n1, n2, ...) unless that name is taken.
    long long stride = 1;
    std::vector<size_t> varying;
    std::vector<std::string> names;
    for (size_t k = 0; k < runs; ++k)
        if (lo[k] != hi[k]) {
            varying.push_back(k);
            names.push_back(pattern.RunName(k));
        }
    const auto taken = [&](const std::string& n) {
        return std::find(names.begin(), names.end(), n) != names.end() || n == "x" || n == "y" || n == "c";
    };
    for (size_t i = 0, spare = 1; i < names.size(); ++i) {
        if (!names[i].empty())
            continue;
        for (std::string guess : {"z", "t"})
            if (names[i].empty() && !taken(guess))
                names[i] = guess;
        while (names[i].empty()) {
            const std::string guess = "n" + std::to_string(spare++);
            if (!taken(guess))
                names[i] = guess;
        }
    }
    for (size_t i = 0; i < varying.size(); ++i) {
        const size_t k = varying[i];
        const long long extent = hi[k] - lo[k] + 1;
        if (extent > INT_MAX / stride) {
            this->Fail("the numbers in the file names of this series span too wide a range");
            return;
        }
        m_strides.emplace_back(static_cast<unsigned>(this->m_dims.size()), stride);
        this->AddDim({names[i], static_cast<int>(extent), 0.0, static_cast<int>(lo[k]), {}, 0.0});
        stride *= extent;
    }

    // The cursor starts on the opened file's own plane.
    std::vector<long long> own;
    if (pattern.Match(name, own)) {
        for (size_t i = 0; i < this->m_dims.size(); ++i)
            m_initial.push_back(-1);
        for (size_t i = 0; i < varying.size(); ++i)
            m_initial[static_cast<int>(m_strides[i].first)] = static_cast<int>(own[varying[i]] - lo[varying[i]]);
    }

    const std::string prefix = path.has_parent_path() ? path.parent_path().string() + "/" : std::string();
    for (const auto& f : found) {
        long long at = 0;
        for (size_t i = 0; i < varying.size(); ++i)
            at += (f.second[varying[i]] - lo[varying[i]]) * m_strides[i].second;
        if (m_fileAt.emplace(at, static_cast<long long>(m_files.size())).second)
            m_files.push_back(prefix + f.first);
    }
    this->Finish(static_cast<long long>(m_files.size()));
}

template <class T>
bool TIFFImageReader<T>::Locate(const Vector& position, long long& key, unsigned& sample)
{
    sample = this->m_layout.samples > 1 ? static_cast<unsigned>(position[0]) : 0;
    long long at = 0;
    for (const auto& [dim, stride] : m_strides)
        at += static_cast<long long>(position[static_cast<int>(dim) - 2]) * stride;
    const auto it = m_fileAt.find(at);
    if (it == m_fileAt.end())
        return false;
    key = it->second;
    return true;
}

template <class T>
bool TIFFImageReader<T>::OpenFile(long long key, TiffFile& file)
{
    if (key < 0 || key >= static_cast<long long>(m_files.size()))
        return false;
    const std::string& path = m_files[static_cast<size_t>(key)];
    file.ShareReported(this->m_reported);
    std::string error;
    std::string problem;
    if (!file.Open(path, false, error))
        problem = error;
    else if (!file.Layout().SameShape(this->m_layout))
        problem = "a plane of another size or sample type than the file opened; such planes are left out";
    if (!problem.empty()) {
        if (this->m_reported->insert(problem).second)
            ReportDiagnostic(path + ": " + problem);
        return false;
    }
    return true;
}

template <class T>
bool TIFFImageReader<T>::ReadRawPage(long long key, unsigned char* out)
{
    TiffFile file;
    return OpenFile(key, file) && file.ReadPage(0, out);
}

// A borrowed plane keeps the file's mapping, not the file's TIFF handle, open.
template <class T>
ImageSlice<T> TIFFImageReader<T>::ReadPlane16(long long key)
{
    TiffFile file;
    return OpenFile(key, file) ? file.ReadPlane16(0) : ImageSlice<T>();
}

template class TIFFImageReader<unsigned short>;

} // namespace ImageReader
