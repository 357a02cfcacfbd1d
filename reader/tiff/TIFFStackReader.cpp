#include "TIFFStackReader.h"

#include <algorithm>

#include "Diagnostics.h"
#include "TiffDescription.h"

namespace ImageReader {

namespace {

#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr long long kMaxPlanes = 1 << 16;
#else
constexpr long long kMaxPlanes = 1 << 26;
#endif

} // namespace

template <class T>
void TIFFStackReader<T>::Open(const std::filesystem::path& path)
{
    this->Reset();
    m_file.Close();
    m_kind = Kind::Single;
    m_pageDims.clear();
    m_pageOf.clear();
    m_file.ShareReported(this->m_reported);
    std::string error;
    if (!m_file.Open(path.string(), true, error)) {
        this->Fail(error);
        return;
    }
    const TiffLayout& layout = m_file.Layout();
    double nm[3];
    PixelSizesOf(layout, nm);
    this->SetPlaneDims(layout, nm[0], nm[1]);

    // A description that cannot be used leaves the pages readable as a plain stack.
    const bool ome = layout.description.find("<OME") != std::string::npos;
    std::string omeError;
    if (ome && LayOutOme(path.filename().string(), nm[2], omeError)) {
        m_kind = Kind::OME;
    } else {
        if (ome)
            ReportDiagnostic(path.filename().string() + ": " + omeError + "; its pages are shown as z.");
        LayOutImageJ(path.filename().string(), nm[2]);
    }
    this->Finish(static_cast<long long>(m_file.Pages()));
}

// ImageJ's planes run channel fastest, then slice, then frame. A description that promises
// more planes than the file has pages is not trusted: the pages then form "z".
template <class T>
void TIFFStackReader<T>::LayOutImageJ(const std::string& fileName, double zNm)
{
    const long long pages = static_cast<long long>(m_file.Pages());
    ImageJDescription ij;
    if (ParseImageJDescription(m_file.Layout().description, ij)) {
        long long c = ij.channels, z = ij.slices, t = ij.frames;
        if (c * z * t == 1 && ij.images > 1)
            z = ij.images;
        // A single image's description (ImageJ writes one into every file of an image
        // sequence) leaves the file a plain page, so that it opens with its series.
        if (c * z * t > pages) {
            ReportDiagnostic(fileName + ": the ImageJ description promises more images than the file holds; "
                                        "its pages are shown as z.");
        } else if (c * z * t > 1) {
            m_kind = Kind::ImageJ;
            if (c > 1 && this->m_layout.samples > 1)
                this->m_dims[2].name = "s"; // the pages' own samples; "c" is ImageJ's channel
            long long stride = 1;
            const char* names[] = {"c", "z", "t"};
            const long long sizes[] = {c, z, t};
            this->m_hints = ImageJChannelHints(ij, m_file.Layout().imagej, static_cast<int>(c));
            for (int i = 0; i < 3; ++i) {
                if (sizes[i] > 1) {
                    if (i == 0)
                        this->m_hintDim = static_cast<int>(this->m_dims.size());
                    m_pageDims.emplace_back(static_cast<unsigned>(this->m_dims.size()), stride);
                    this->AddDim({names[i], static_cast<int>(sizes[i]), i == 1 ? zNm : 0.0, 0, {}, i == 2 ? ij.frameIntervalS : 0.0});
                }
                stride *= sizes[i];
            }
            return;
        }
    }
    // A single channel's range and lookup table (ImageJ keeps those of a stack or a plain
    // image too).
    if (this->m_hints.empty() && this->m_layout.samples == 1 && ParseImageJDescription(m_file.Layout().description, ij))
        this->m_hints = ImageJChannelHints(ij, m_file.Layout().imagej, 1);
    if (pages > 1) {
        m_kind = Kind::MultiPage;
        m_pageDims.emplace_back(static_cast<unsigned>(this->m_dims.size()), 1);
        this->AddDim({"z", static_cast<int>(pages), zNm, 0, {}, 0.0});
    }
}

// OME numbers its planes in DimensionOrder (the letters after X and Y, fastest first); its
// TiffData elements say which page holds which planes, page k holding plane k otherwise.
// Planes kept in other files stay missing, and the user is told once.
template <class T>
bool TIFFStackReader<T>::LayOutOme(const std::string& fileName, double zNm, std::string& error)
{
    const TiffLayout& layout = m_file.Layout();
    OmeDescription ome;
    if (!ParseOmeDescription(layout.description, ome, error))
        return false;
    std::string order = ome.dimensionOrder;
    std::string sorted = order;
    std::sort(sorted.begin(), sorted.end());
    if (order.size() != 5 || order.compare(0, 2, "XY") != 0 || sorted != "CTXYZ")
        order = "XYZCT";
    const long long samples = layout.samples;
    long long sizeC = ome.sizeC;
    if (samples > 1 && sizeC % samples == 0)
        sizeC /= samples; // SizeC counts the samples of RGB pages too
    long long sizes[3];
    for (int i = 0; i < 3; ++i) {
        const char letter = order[static_cast<size_t>(i) + 2];
        sizes[i] = letter == 'Z' ? ome.sizeZ : letter == 'C' ? sizeC : ome.sizeT;
    }
    if (sizes[0] < 1 || sizes[1] < 1 || sizes[2] < 1 || sizes[0] > kMaxPlanes || sizes[1] > kMaxPlanes ||
        sizes[2] > kMaxPlanes || sizes[0] * sizes[1] * sizes[2] > kMaxPlanes) {
        error = "the OME-XML description gives impossible sizes (SizeZ " + std::to_string(ome.sizeZ) +
                        ", SizeC " + std::to_string(ome.sizeC) + ", SizeT " + std::to_string(ome.sizeT) + ")";
        return false;
    }
    const long long planes = sizes[0] * sizes[1] * sizes[2];
    const long long pages = static_cast<long long>(m_file.Pages());

    if (!ome.tiffData.empty()) {
        m_pageOf.assign(static_cast<size_t>(planes), -1);
        bool elsewhere = false;
        for (const OmeDescription::TiffData& d : ome.tiffData) {
            if (!d.file.empty() && d.file != fileName) {
                elsewhere = true;
                continue;
            }
            long long first = 0, stride = 1;
            for (int i = 0; i < 3; ++i) {
                const char letter = order[static_cast<size_t>(i) + 2];
                const long long at = letter == 'Z' ? d.firstZ : letter == 'C' ? d.firstC : d.firstT;
                if (at < 0 || at >= sizes[i]) {
                    first = -1;
                    break;
                }
                first += at * stride;
                stride *= sizes[i];
            }
            if (first < 0 || d.ifd < 0)
                continue;
            const bool positioned = d.hasIfd || d.firstZ || d.firstC || d.firstT;
            long long count = d.planeCount >= 0 ? d.planeCount : positioned ? 1 : planes;
            count = std::min(count, planes - first);
            for (long long i = 0; i < count && d.ifd + i < pages; ++i)
                m_pageOf[static_cast<size_t>(first + i)] = d.ifd + i;
        }
        if (elsewhere)
            ReportDiagnostic(fileName + ": this OME-TIFF names other files for some of its planes; only the planes "
                                        "this file holds are shown.");
    }

    long long stride = 1;
    for (int i = 0; i < 3; ++i) {
        const char letter = order[static_cast<size_t>(i) + 2];
        if (sizes[i] > 1) {
            typename TIFFReaderBase<T>::Dim dim;
            dim.name = std::string(1, static_cast<char>(letter - 'A' + 'a'));
            dim.size = static_cast<int>(sizes[i]);
            dim.pixelNm = letter == 'Z' ? zNm : 0.0;
            dim.intervalS = letter == 'T' ? ome.timeIncrementS : 0.0;
            if (letter == 'C' && ome.channelNames.size() == static_cast<size_t>(sizes[i])) {
                dim.indexNames = ome.channelNames;
                this->m_hintDim = static_cast<int>(this->m_dims.size());
                this->m_hints = ome.channelHints;
            }
            if (letter == 'C' && samples > 1)
                this->m_dims[2].name = "s"; // the pages' own samples; "c" is OME's channel
            m_pageDims.emplace_back(static_cast<unsigned>(this->m_dims.size()), stride);
            this->AddDim(std::move(dim));
        }
        stride *= sizes[i];
    }
    if (samples > 1 && sizeC == 1 && ome.channelNames.size() == static_cast<size_t>(samples))
        this->m_dims[2].indexNames = ome.channelNames;
    if (sizeC == 1 && samples == 1 && ome.channelHints.size() == 1)
        this->m_hints = ome.channelHints;
    // Hints that only name the channels say nothing the index names do not.
    const bool said = std::any_of(this->m_hints.begin(), this->m_hints.end(),
                                  [](const ChannelHint& h) { return h.hasColor || h.wavelength > 0; });
    if (!said)
        this->m_hints.clear();
    return true;
}

template <class T>
bool TIFFStackReader<T>::Locate(const Vector& position, long long& key, unsigned& sample)
{
    sample = this->m_layout.samples > 1 ? static_cast<unsigned>(position[0]) : 0;
    long long plane = 0;
    for (const auto& [dim, stride] : m_pageDims)
        plane += static_cast<long long>(position[static_cast<int>(dim) - 2]) * stride;
    if (!m_pageOf.empty())
        plane = plane < static_cast<long long>(m_pageOf.size()) ? m_pageOf[static_cast<size_t>(plane)] : -1;
    key = plane;
    return plane >= 0 && plane < static_cast<long long>(m_file.Pages());
}

template <class T>
std::string TIFFStackReader<T>::FormatKind()
{
    switch (m_kind) {
    case Kind::MultiPage: return "multi-page TIFF";
    case Kind::ImageJ: return "ImageJ TIFF";
    case Kind::OME: return "OME-TIFF";
    case Kind::Single: break;
    }
    return "TIFF";
}

template class TIFFStackReader<unsigned short>;

} // namespace ImageReader
