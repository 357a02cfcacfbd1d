#include "GifMovieWriter.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace Core {

namespace {

// Colours are counted at 6 bits a channel: 64 levels of one hue keep a gradient smooth, and
// the table (2^18 counts) stays small enough to clear per frame.
constexpr int kBits = 6;
constexpr int kLevels = 1 << kBits;

inline std::uint32_t KeyOf(int r, int g, int b)
{
    return (static_cast<std::uint32_t>(r >> (8 - kBits)) << (2 * kBits)) |
           (static_cast<std::uint32_t>(g >> (8 - kBits)) << kBits) | static_cast<std::uint32_t>(b >> (8 - kBits));
}

inline int Channel(std::uint32_t key, int c)
{
    return static_cast<int>(key >> (kBits * (2 - c))) & (kLevels - 1);
}

struct Box
{
    size_t begin, end; // range of `keys`
    int lo[3], hi[3];
    std::uint64_t count;

    int Widest() const
    {
        int c = 0;
        for (int i = 1; i < 3; ++i)
            if (hi[i] - lo[i] > hi[c] - lo[c])
                c = i;
        return c;
    }
    int Span() const { return hi[Widest()] - lo[Widest()]; }
};

Box MakeBox(const std::vector<std::uint32_t>& keys, const std::vector<std::uint32_t>& counts, size_t begin, size_t end)
{
    Box box{begin, end, {kLevels, kLevels, kLevels}, {-1, -1, -1}, 0};
    for (size_t i = begin; i < end; ++i) {
        for (int c = 0; c < 3; ++c) {
            box.lo[c] = std::min(box.lo[c], Channel(keys[i], c));
            box.hi[c] = std::max(box.hi[c], Channel(keys[i], c));
        }
        box.count += counts[keys[i]];
    }
    return box;
}

// Six bits back to eight, with 0 and 63 landing on 0 and 255.
inline std::uint8_t Expand(double level)
{
    return static_cast<std::uint8_t>(std::lround(level * 255.0 / (kLevels - 1)));
}

} // namespace

int QuantizeFrame(const RgbaFrame& frame, std::vector<std::uint8_t>& palette, std::vector<std::uint8_t>& indices)
{
    const int r = frame.order == PixelOrder::RGBA ? 0 : 2, b = 2 - r;
    std::vector<std::uint32_t> counts(size_t(1) << (3 * kBits), 0);
    for (int y = 0; y < frame.height; ++y) {
        const unsigned char* p = frame.bytes + static_cast<size_t>(y) * frame.stride;
        for (int x = 0; x < frame.width; ++x, p += 4)
            ++counts[KeyOf(p[r], p[1], p[b])];
    }
    std::vector<std::uint32_t> keys;
    for (std::uint32_t k = 0; k < counts.size(); ++k)
        if (counts[k])
            keys.push_back(k);

    // Median cut: split the box of most error (pixels times squared span) along its widest
    // channel at the median of its pixels.
    std::vector<Box> boxes{MakeBox(keys, counts, 0, keys.size())};
    const auto weight = [](const Box& a) { return static_cast<double>(a.count) * a.Span() * a.Span(); };
    while (boxes.size() < 256) {
        auto widest = std::max_element(boxes.begin(), boxes.end(), [&](const Box& a, const Box& c) {
            return weight(a) < weight(c);
        });
        if (widest->Span() == 0)
            break;
        const Box box = *widest;
        const int c = box.Widest();
        std::sort(keys.begin() + static_cast<long>(box.begin), keys.begin() + static_cast<long>(box.end),
                  [c](std::uint32_t a, std::uint32_t d) { return Channel(a, c) < Channel(d, c); });
        std::uint64_t seen = 0;
        size_t cut = box.begin + 1;
        for (size_t i = box.begin; i + 1 < box.end; ++i) {
            seen += counts[keys[i]];
            cut = i + 1;
            if (2 * seen >= box.count)
                break;
        }
        // Never cut inside a run of one level, so the two halves do not overlap.
        while (cut < box.end && Channel(keys[cut], c) == Channel(keys[cut - 1], c))
            ++cut;
        if (cut == box.end) {
            cut = box.begin + 1;
            while (Channel(keys[cut], c) == Channel(keys[cut - 1], c))
                ++cut;
        }
        *widest = MakeBox(keys, counts, box.begin, cut);
        boxes.push_back(MakeBox(keys, counts, cut, box.end));
    }

    // Each box's colour is its pixels' mean; every key of a box maps to that entry.
    std::vector<std::uint8_t> entryOf(counts.size(), 0);
    palette.assign(3 * boxes.size(), 0);
    for (size_t i = 0; i < boxes.size(); ++i) {
        double sum[3] = {0, 0, 0};
        for (size_t k = boxes[i].begin; k < boxes[i].end; ++k) {
            entryOf[keys[k]] = static_cast<std::uint8_t>(i);
            for (int c = 0; c < 3; ++c)
                sum[c] += static_cast<double>(Channel(keys[k], c)) * counts[keys[k]];
        }
        for (int c = 0; c < 3; ++c)
            palette[3 * i + static_cast<size_t>(c)] = Expand(boxes[i].count ? sum[c] / static_cast<double>(boxes[i].count) : 0.0);
    }
    indices.resize(static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height));
    std::uint8_t* out = indices.data();
    for (int y = 0; y < frame.height; ++y) {
        const unsigned char* p = frame.bytes + static_cast<size_t>(y) * frame.stride;
        for (int x = 0; x < frame.width; ++x, p += 4)
            *out++ = entryOf[KeyOf(p[r], p[1], p[b])];
    }
    return static_cast<int>(boxes.size());
}

GifMovieWriter::~GifMovieWriter()
{
    Close();
}

void GifMovieWriter::Close()
{
    if (m_gif) {
        int error = 0;
        EGifCloseFile(m_gif, &error);
    }
    m_gif = nullptr;
}

bool GifMovieWriter::GifFailed(const char* what)
{
    const int code = m_gif ? m_gif->Error : 0;
    const char* text = GifErrorString(code);
    Fail(std::string("GIF: ") + what + (text ? std::string(" (") + text + ")" : std::string()));
    Abandon();
    return false;
}

bool GifMovieWriter::Begin(const std::string& path, int width, int height, const MovieOptions& options)
{
    if (!CheckSize(width, height, 65535, "GIF"))
        return false;
    m_path = path;
    m_width = width;
    m_height = height;
    m_fps = options.fps;
    int error = 0;
    m_gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!m_gif)
        return Fail("cannot write " + path);
    EGifSetGifVersion(m_gif, true);
    if (EGifPutScreenDesc(m_gif, width, height, 8, 0, nullptr) == GIF_ERROR)
        return GifFailed("cannot write the screen descriptor");
    // The application extension that makes viewers loop (0 = forever).
    static const unsigned char loop[] = {1, 0, 0};
    if (EGifPutExtensionLeader(m_gif, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
        EGifPutExtensionBlock(m_gif, 11, "NETSCAPE2.0") == GIF_ERROR ||
        EGifPutExtensionBlock(m_gif, 3, loop) == GIF_ERROR || EGifPutExtensionTrailer(m_gif) == GIF_ERROR)
        return GifFailed("cannot write the loop extension");
    return true;
}

bool GifMovieWriter::Add(const RgbaFrame& frame)
{
    if (!CheckFrame(m_gif != nullptr, frame, m_width, m_height))
        return false;
    std::vector<std::uint8_t> palette;
    const int colours = QuantizeFrame(frame, palette, m_indices);
    // A GIF colour table has a power-of-two size of at least 2.
    int size = 2;
    while (size < colours)
        size *= 2;
    std::vector<GifColorType> table(static_cast<size_t>(size), GifColorType{0, 0, 0});
    for (int i = 0; i < colours; ++i)
        table[static_cast<size_t>(i)] = {palette[3 * static_cast<size_t>(i)], palette[3 * static_cast<size_t>(i) + 1],
                                         palette[3 * static_cast<size_t>(i) + 2]};
    ColorMapObject* map = GifMakeMapObject(size, table.data());
    if (!map)
        return Fail("out of memory");

    // Delays in centiseconds, rounded on the running total so that the movie keeps its rate.
    const long long from = std::llround(static_cast<double>(m_frames) * 100.0 / m_fps);
    const long long to = std::llround(static_cast<double>(m_frames + 1) * 100.0 / m_fps);
    GraphicsControlBlock gcb{DISPOSE_DO_NOT, false, static_cast<int>(std::clamp<long long>(to - from, 0, 65535)), NO_TRANSPARENT_COLOR};
    GifByteType extension[4];
    const size_t length = EGifGCBToExtension(&gcb, extension);
    bool ok = EGifPutExtension(m_gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) != GIF_ERROR &&
              EGifPutImageDesc(m_gif, 0, 0, m_width, m_height, false, map) != GIF_ERROR;
    GifFreeMapObject(map);
    for (int y = 0; ok && y < m_height; ++y)
        ok = EGifPutLine(m_gif, m_indices.data() + static_cast<size_t>(y) * static_cast<size_t>(m_width), m_width) != GIF_ERROR;
    if (!ok)
        return GifFailed("cannot write a frame");
    ++m_frames;
    return true;
}

bool GifMovieWriter::Finish()
{
    if (!m_gif)
        return Fail("the movie is not open");
    int error = 0;
    const int status = EGifCloseFile(m_gif, &error);
    m_gif = nullptr;
    if (status == GIF_ERROR) {
        Fail(std::string("GIF: cannot finish the file (") + GifErrorString(error) + ")");
        Abandon();
        return false;
    }
    return true;
}

void GifMovieWriter::Abandon()
{
    Close();
    RemoveOutput(m_path);
}

} // namespace Core
