#include <gtest/gtest.h>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <webp/demux.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "MovieWriter.h"
#include "StopToken.h"

using namespace Core;
namespace fs = std::filesystem;

namespace {

// Frame k: red along x, green along y in pairs of equal rows (as an enlarged picture has),
// blue by k, and a white square that moves.
std::vector<unsigned char> MakeFrame(int w, int h, int k, PixelOrder order)
{
    std::vector<unsigned char> px(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &px[(static_cast<size_t>(y) * w + x) * 4];
            int r = x * 255 / (w - 1), g = (y / 2) * 510 / (h - 1), b = (k * 40) % 256;
            if (x >= 2 * k && x < 2 * k + 8 && y >= k && y < k + 8)
                r = g = b = 255;
            p[order == PixelOrder::RGBA ? 0 : 2] = static_cast<unsigned char>(r);
            p[1] = static_cast<unsigned char>(g);
            p[order == PixelOrder::RGBA ? 2 : 0] = static_cast<unsigned char>(b);
            p[3] = 0; // alpha is ignored
        }
    return px;
}

// The frames a test writes, as RGB for comparing.
std::vector<unsigned char> ExpectedRgb(int w, int h, int k)
{
    const std::vector<unsigned char> rgba = MakeFrame(w, h, k, PixelOrder::RGBA);
    std::vector<unsigned char> rgb;
    for (size_t i = 0; i < rgba.size(); i += 4)
        rgb.insert(rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
    return rgb;
}

struct Difference
{
    double mean = 0;
    int max = 0;
};

Difference Compare(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
    Difference d;
    if (a.size() != b.size() || a.empty()) {
        d.mean = d.max = 1000;
        return d;
    }
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int e = std::abs(int(a[i]) - int(b[i]));
        sum += e;
        d.max = std::max(d.max, e);
    }
    d.mean = sum / static_cast<double>(a.size());
    return d;
}

MovieResult Write(const std::string& out, int w, int h, int frames, double fps, PixelOrder order = PixelOrder::RGBA)
{
    std::vector<unsigned char> pixels;
    MovieOptions options;
    options.fps = fps;
    return WriteMovie(out, frames, [&](int i, RgbaFrame& f, std::string&) {
        pixels = MakeFrame(w, h, i, order);
        f = {w, h, static_cast<size_t>(w) * 4, pixels.data(), order};
        return true;
    }, options);
}

std::vector<unsigned char> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool HaveProgram(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string RunCommand(const std::string& command)
{
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> p(popen(command.c_str(), "r"), &pclose);
    char buffer[4096];
    size_t n;
    while (p && (n = std::fread(buffer, 1, sizeof buffer, p.get())) > 0)
        out.append(buffer, n);
    return out;
}

// What ffprobe counts and reads in the first video stream.
std::map<std::string, std::string> Probe(const std::string& path)
{
    const std::string text = RunCommand("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                 "stream=width,height,r_frame_rate,nb_read_frames -of default=noprint_wrappers=1 '" +
                                 path + "'");
    std::map<std::string, std::string> fields;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            fields[line.substr(0, eq)] = line.substr(eq + 1);
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return fields;
}

std::vector<unsigned char> DecodeJpeg(const unsigned char* data, size_t size, int& w, int& h)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    w = static_cast<int>(cinfo.output_width);
    h = static_cast<int>(cinfo.output_height);
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &rgb[static_cast<size_t>(cinfo.output_scanline) * w * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return rgb;
}

uint32_t Le32(const std::vector<unsigned char>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

class MovieTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("lumora-movie-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    fs::path dir;
};

} // namespace

TEST(MovieFormat, FromTheName)
{
    EXPECT_EQ(MovieFormatFor("a/b/talk.MP4"), MovieFormat::Mp4);
    EXPECT_EQ(MovieFormatFor("talk.avi"), MovieFormat::AviMjpeg);
    EXPECT_EQ(MovieFormatFor("talk.Gif"), MovieFormat::Gif);
    EXPECT_EQ(MovieFormatFor("talk.webp"), MovieFormat::WebP);
    EXPECT_EQ(MovieFormatFor("frames/"), MovieFormat::PngFrames);
    EXPECT_EQ(MovieFormatFor(fs::temp_directory_path().string()), MovieFormat::PngFrames);
    EXPECT_EQ(MovieFormatFor("talk.mov"), MovieFormat::Unknown);
    EXPECT_EQ(MovieFormatFor(""), MovieFormat::Unknown);
}

TEST_F(MovieTest, PngFramesAreExactInEitherByteOrder)
{
    for (PixelOrder order : {PixelOrder::RGBA, PixelOrder::BGRA}) {
        const std::string out = Path(order == PixelOrder::RGBA ? "rgba/" : "bgra/");
        const MovieResult r = Write(out, 33, 21, 4, 10, order);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.frames, 4);
        for (int k = 0; k < 4; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "frame_%06d.png", k);
            png_image image;
            std::memset(&image, 0, sizeof image);
            image.version = PNG_IMAGE_VERSION;
            ASSERT_TRUE(png_image_begin_read_from_file(&image, (out + name).c_str())) << name;
            image.format = PNG_FORMAT_RGB;
            std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
            ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
            EXPECT_EQ(image.width, 33u);
            EXPECT_EQ(image.height, 21u);
            EXPECT_TRUE(rgb == ExpectedRgb(33, 21, k)) << name;
        }
        EXPECT_FALSE(fs::exists(out + "frame_000004.png"));
    }
}

TEST_F(MovieTest, AviHoldsEveryFrameAsJpegAtTheRate)
{
    const std::string out = Path("m.avi");
    const MovieResult r = Write(out, 48, 32, 6, 29.97);
    ASSERT_TRUE(r.ok) << r.error;
    const std::vector<unsigned char> file = ReadFile(out);
    ASSERT_GT(file.size(), 224u);
    ASSERT_EQ(std::memcmp(file.data(), "RIFF", 4), 0);
    EXPECT_EQ(Le32(file, 4), file.size() - 8);
    // Walk the top-level chunks to 'movi' and 'idx1', then every frame through the index.
    size_t movi = 0, idx1 = 0;
    for (size_t at = 12; at + 8 <= file.size();) {
        const uint32_t size = Le32(file, at + 4);
        if (!std::memcmp(&file[at], "LIST", 4) && !std::memcmp(&file[at + 8], "movi", 4))
            movi = at + 8;
        if (!std::memcmp(&file[at], "idx1", 4))
            idx1 = at;
        at += 8 + size + (size & 1);
    }
    ASSERT_TRUE(movi && idx1);
    ASSERT_EQ(Le32(file, idx1 + 4), 6u * 16);
    for (int k = 0; k < 6; ++k) {
        const size_t e = idx1 + 8 + 16 * static_cast<size_t>(k);
        EXPECT_EQ(std::memcmp(&file[e], "00dc", 4), 0);
        const size_t chunk = movi + Le32(file, e + 8);
        const uint32_t size = Le32(file, e + 12);
        ASSERT_LE(chunk + 8 + size, file.size());
        ASSERT_EQ(std::memcmp(&file[chunk], "00dc", 4), 0);
        ASSERT_EQ(Le32(file, chunk + 4), size);
        int w = 0, h = 0;
        const std::vector<unsigned char> rgb = DecodeJpeg(&file[chunk + 8], size, w, h);
        ASSERT_EQ(w, 48);
        ASSERT_EQ(h, 32);
        const Difference d = Compare(rgb, ExpectedRgb(48, 32, k));
        EXPECT_LT(d.mean, 3.0) << "frame " << k;
    }
    if (!HaveProgram("ffprobe"))
        GTEST_SKIP() << "ffprobe is not installed";
    const auto probe = Probe(out);
    EXPECT_EQ(probe.at("width"), "48");
    EXPECT_EQ(probe.at("height"), "32");
    EXPECT_EQ(probe.at("r_frame_rate"), "2997/100");
    EXPECT_EQ(probe.at("nb_read_frames"), "6");
}

TEST_F(MovieTest, GifFramesKeepTheirColoursAndTheRate)
{
    const std::string out = Path("m.gif");
    const MovieResult r = Write(out, 48, 32, 6, 30, PixelOrder::BGRA);
    ASSERT_TRUE(r.ok) << r.error;
    int error = 0;
    GifFileType* gif = DGifOpenFileName(out.c_str(), &error);
    ASSERT_NE(gif, nullptr);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    ASSERT_EQ(gif->ImageCount, 6);
    EXPECT_EQ(gif->SWidth, 48);
    EXPECT_EQ(gif->SHeight, 32);
    int total = 0;
    for (int k = 0; k < 6; ++k) {
        const SavedImage& image = gif->SavedImages[k];
        GraphicsControlBlock gcb;
        ASSERT_EQ(DGifSavedExtensionToGCB(gif, k, &gcb), GIF_OK);
        total += gcb.DelayTime;
        EXPECT_TRUE(gcb.DelayTime == 3 || gcb.DelayTime == 4) << gcb.DelayTime;
        const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        ASSERT_NE(map, nullptr);
        std::vector<unsigned char> rgb;
        for (int i = 0; i < 48 * 32; ++i) {
            const GifColorType c = map->Colors[image.RasterBits[i]];
            rgb.insert(rgb.end(), {c.Red, c.Green, c.Blue});
        }
        // 1536 colours (a 48 x 32 ramp of red and green) in 256 entries: cells about 16
        // levels wide in red and green, so about 4 off in each on average and 0 in blue.
        const Difference d = Compare(rgb, ExpectedRgb(48, 32, k));
        EXPECT_LT(d.mean, 4.0) << "frame " << k;
        EXPECT_LE(d.max, 16) << "frame " << k;
    }
    EXPECT_EQ(total, 20); // six frames at 30 fps: 0.2 s
    DGifCloseFile(gif, &error);
}

TEST_F(MovieTest, WebpFramesDecodeAtTheirTimes)
{
    const std::string out = Path("m.webp");
    const MovieResult r = Write(out, 48, 32, 6, 8);
    ASSERT_TRUE(r.ok) << r.error;
    const std::vector<unsigned char> file = ReadFile(out);
    WebPData data{file.data(), file.size()};
    WebPAnimDecoderOptions options;
    ASSERT_TRUE(WebPAnimDecoderOptionsInit(&options));
    options.color_mode = MODE_RGBA;
    std::unique_ptr<WebPAnimDecoder, void (*)(WebPAnimDecoder*)> dec(WebPAnimDecoderNew(&data, &options), WebPAnimDecoderDelete);
    ASSERT_TRUE(dec);
    WebPAnimInfo info;
    ASSERT_TRUE(WebPAnimDecoderGetInfo(dec.get(), &info));
    EXPECT_EQ(info.canvas_width, 48u);
    EXPECT_EQ(info.canvas_height, 32u);
    EXPECT_EQ(info.frame_count, 6u);
    EXPECT_EQ(info.loop_count, 0u);
    for (int k = 0; k < 6; ++k) {
        uint8_t* pixels = nullptr;
        int timestamp = 0;
        ASSERT_TRUE(WebPAnimDecoderGetNext(dec.get(), &pixels, &timestamp));
        EXPECT_EQ(timestamp, (k + 1) * 125); // the end of frame k at 8 fps
        std::vector<unsigned char> rgb;
        for (int i = 0; i < 48 * 32; ++i)
            rgb.insert(rgb.end(), {pixels[4 * i], pixels[4 * i + 1], pixels[4 * i + 2]});
        EXPECT_LT(Compare(rgb, ExpectedRgb(48, 32, k)).mean, 4.0) << "frame " << k;
    }
}

TEST_F(MovieTest, Mp4HasTheFramesSizeAndRate)
{
    if (!MovieFormatAvailable(MovieFormat::Mp4))
        GTEST_SKIP() << "built without libavcodec";
    const std::string out = Path("m.mp4");
    const MovieResult r = Write(out, 48, 32, 6, 25);
    ASSERT_TRUE(r.ok) << r.error;
    // An odd size is padded to the even one 4:2:0 needs.
    const MovieResult odd = Write(Path("odd.mp4"), 33, 21, 3, 12);
    ASSERT_TRUE(odd.ok) << odd.error;
    if (!HaveProgram("ffprobe") || !HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffprobe/ffmpeg are not installed";
    auto probe = Probe(out);
    EXPECT_EQ(probe["width"], "48");
    EXPECT_EQ(probe["height"], "32");
    EXPECT_EQ(probe["r_frame_rate"], "25/1");
    EXPECT_EQ(probe["nb_read_frames"], "6");
    probe = Probe(Path("odd.mp4"));
    EXPECT_EQ(probe["width"], "34");
    EXPECT_EQ(probe["height"], "22");
    EXPECT_EQ(probe["r_frame_rate"], "12/1");
    EXPECT_EQ(probe["nb_read_frames"], "3");
    const std::string raw = RunCommand("ffmpeg -v error -i '" + out + "' -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(raw.size(), 6u * 48 * 32 * 3);
    for (int k = 0; k < 6; ++k) {
        const std::vector<unsigned char> rgb(raw.begin() + k * 48 * 32 * 3, raw.begin() + (k + 1) * 48 * 32 * 3);
        EXPECT_LT(Compare(rgb, ExpectedRgb(48, 32, k)).mean, 6.0) << "frame " << k;
    }
}

TEST_F(MovieTest, CancelledOrFailedMoviesLeaveNothing)
{
    std::vector<unsigned char> pixels = MakeFrame(16, 16, 0, PixelOrder::RGBA);
    const FrameRenderer good = [&](int, RgbaFrame& f, std::string&) {
        f = {16, 16, 64, pixels.data(), PixelOrder::RGBA};
        return true;
    };
    for (const char* name : {"c.avi", "c.gif", "c.webp", "c.mp4", "c/"}) {
        if (!MovieFormatAvailable(MovieFormatFor(name)))
            continue;
        const std::string out = Path(name);
        // Cancelled from the progress callback after two frames.
        MovieResult r = WriteMovie(out, 5, good, MovieOptions(), [](int done, int) { return done < 2; });
        EXPECT_TRUE(r.cancelled) << name;
        EXPECT_FALSE(r.ok) << name;
        EXPECT_FALSE(fs::exists(out)) << name;
        // Cancelled by the thread's stop token, as a job's Esc does.
        ImageReader::StopToken token;
        {
            const ImageReader::StopScope scope(&token);
            r = WriteMovie(out, 5, [&](int i, RgbaFrame& f, std::string& e) {
                if (i == 2)
                    token.RequestStop();
                return good(i, f, e);
            }, MovieOptions());
        }
        EXPECT_TRUE(r.cancelled) << name;
        EXPECT_FALSE(fs::exists(out)) << name;
        // A frame of another size is an error, not a stretched or cut frame.
        std::vector<unsigned char> other = MakeFrame(8, 8, 0, PixelOrder::RGBA);
        r = WriteMovie(out, 3, [&](int i, RgbaFrame& f, std::string&) {
            f = i == 1 ? RgbaFrame{8, 8, 32, other.data(), PixelOrder::RGBA} : RgbaFrame{16, 16, 64, pixels.data(), PixelOrder::RGBA};
            return true;
        }, MovieOptions());
        EXPECT_FALSE(r.ok) << name;
        EXPECT_NE(r.error.find("does not match"), std::string::npos) << r.error;
        EXPECT_FALSE(fs::exists(out)) << name;
        // A frame that cannot be rendered stops the movie with the renderer's reason.
        r = WriteMovie(out, 3, [&](int i, RgbaFrame& f, std::string& e) {
            if (i == 2) {
                e = "plane 2 is missing";
                return false;
            }
            return good(i, f, e);
        }, MovieOptions());
        EXPECT_EQ(r.error, "plane 2 is missing");
        EXPECT_FALSE(fs::exists(out)) << name;
    }
    EXPECT_FALSE(WriteMovie(Path("x.mov"), 3, good, MovieOptions()).ok);
    MovieOptions zero;
    zero.fps = 0;
    EXPECT_FALSE(WriteMovie(Path("x.avi"), 3, good, zero).ok);
    EXPECT_FALSE(fs::exists(Path("x.avi")));
    EXPECT_FALSE(WriteMovie(Path("x.avi"), 0, good, MovieOptions()).ok);
}
