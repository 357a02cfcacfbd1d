// The volume renderer against brute-force references computed here from the documented
// geometry: voxel centres at (i + 0.5) * spacing about the volume's centre, the rotation's
// rows as screen right, down and viewing direction, pixel centres at .5.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include <QGuiApplication>
#include <gtest/gtest.h>

#include "MemoryImage.h"
#include "SpectralProjection.h"
#include "StopToken.h"
#include "Volume.h"
#include "VolumeCamera.h"
#include "VolumePicture.h"
#include "VolumeRenderer.h"
#include "VolumeSource.h"

using namespace ImageViewer;
using ImageReader::ImageSlice;

namespace {

using Vec3 = std::array<double, 3>;

std::shared_ptr<Volume> RandomVolume(int nx, int ny, int nz, double sx, double sy, double sz, unsigned seed = 7)
{
    auto v = std::make_shared<Volume>(nx, ny, nz, sx, sy, sz);
    for (size_t i = 0; i < v->VoxelCount(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        v->Data()[i] = static_cast<std::uint16_t>(seed >> 16);
    }
    return v;
}

// A few soft blobs of different heights: smooth, and lopsided so a flipped axis shows.
std::shared_ptr<Volume> BlobVolume(int nx, int ny, int nz, double sx, double sy, double sz)
{
    auto v = std::make_shared<Volume>(nx, ny, nz, sx, sy, sz);
    const double blobs[3][4] = {{0.25, 0.3, 0.3, 60000}, {0.7, 0.6, 0.5, 40000}, {0.4, 0.8, 0.8, 25000}};
    for (int z = 0; z < nz; ++z)
        for (int y = 0; y < ny; ++y)
            for (int x = 0; x < nx; ++x) {
                double value = 0;
                for (const auto& b : blobs) {
                    const double dx = (x + 0.5) * sx - b[0] * nx * sx, dy = (y + 0.5) * sy - b[1] * ny * sy;
                    const double dz = (z + 0.5) * sz - b[2] * nz * sz;
                    value += b[3] * std::exp(-(dx * dx + dy * dy + dz * dz) / 40);
                }
                v->At(x, y, z) = static_cast<std::uint16_t>(std::min(65535.0, value));
            }
    return v;
}

VolumeRenderParams Params(const Rotation& r, int w, int h, double scale, VolumeSampling sampling)
{
    VolumeRenderParams p;
    p.rotation = r;
    p.width = w;
    p.height = h;
    p.scale = scale;
    p.sampling = sampling;
    return p;
}

ImageSlice<unsigned short> RenderOne(const VolumeRenderParams& p, const std::shared_ptr<Volume>& v)
{
    const auto planes = RenderVolume(p, {v});
    EXPECT_EQ(planes.size(), 1u);
    return planes.empty() ? ImageSlice<unsigned short>() : planes[0];
}

unsigned short Pixel(const ImageSlice<unsigned short>& s, int x, int y)
{
    return s.GetData()[static_cast<size_t>(y) * static_cast<size_t>(s.GetSize()[0]) + static_cast<size_t>(x)];
}

// Collapses the volume along `axis` with f over voxels in [from, n) of that axis; pixel (a, b)
// of the result is the voxel with the two other axes at a and b (lower axis first).
std::vector<double> Collapse(const Volume& v, int axis, int from, int mode)
{
    const auto n = v.Size();
    const int ea = axis == 0 ? 1 : 0, eb = axis == 2 ? 1 : 2;
    std::vector<double> out(static_cast<size_t>(n[ea] * n[eb]));
    for (int b = 0; b < n[eb]; ++b)
        for (int a = 0; a < n[ea]; ++a) {
            double mx = 0, mn = 65535, sum = 0;
            for (int k = from; k < n[axis]; ++k) {
                std::array<int, 3> c{};
                c[axis] = k, c[ea] = a, c[eb] = b;
                const double value = v.At(c[0], c[1], c[2]);
                mx = std::max(mx, value), mn = std::min(mn, value), sum += value;
            }
            const double count = n[axis] - from;
            out[static_cast<size_t>(b * n[ea] + a)] = mode == 0 ? mx : mode == 1 ? mn : std::floor(sum / count + 0.5);
        }
    return out;
}

} // namespace

// Looking along an axis, one voxel per pixel: every mode gives exactly that axis's
// projection, in the documented orientation, with either sampling and with a clip.
TEST(VolumeRenderer, AxisAlignedViewsEqualProjections)
{
    const auto v = RandomVolume(23, 17, 11, 0.3, 0.3, 1.7);
    const auto iso = RandomVolume(13, 9, 7, 2, 2, 2, 99);
    // Which projection pixel output pixel (x, y) shows, for a w x h output.
    const struct
    {
        const char* what;
        Rotation rotation;
        std::shared_ptr<Volume> volume;
        int axis, w, h;
        double scale;
        int (*index)(int x, int y);
    } views[] = {
        {"identity: x right, y down", Rotation(), v, 2, 23, 17, 1 / 0.3, [](int x, int y) { return y * 23 + x; }},
        {"el 90 looks down on y = 0: x right, z = 0 at the bottom", AzElRotation(0, 90), iso, 1, 13, 7, 0.5,
         [](int x, int y) { return (6 - y) * 13 + x; }},
        {"az 90 looks along x: y down, z = 0 at the right", AzElRotation(90, 0), iso, 0, 7, 9, 0.5,
         [](int x, int y) { return (6 - x) * 9 + y; }},
    };
    const VolumeMode modes[3] = {VolumeMode::Maximum, VolumeMode::Minimum, VolumeMode::Average};
    for (const auto& view : views)
        for (VolumeSampling sampling : {VolumeSampling::Nearest, VolumeSampling::Bilinear})
            for (int mode = 0; mode < 3; ++mode)
                for (int from : {0, 4}) {
                    SCOPED_TRACE(testing::Message() << view.what << ", sampling " << int(sampling) << " mode " << mode
                                                    << " from " << from);
                    VolumeRenderParams p = Params(view.rotation, view.w, view.h, view.scale, sampling);
                    p.mode = modes[mode];
                    p.clipMin[static_cast<size_t>(view.axis)] = from;
                    const auto out = RenderOne(p, view.volume);
                    const auto expect = Collapse(*view.volume, view.axis, from, mode);
                    for (int y = 0; y < view.h; ++y)
                        for (int x = 0; x < view.w; ++x)
                            ASSERT_EQ(Pixel(out, x, y), expect[static_cast<size_t>(view.index(x, y))]) << x << "," << y;
                }
}

namespace {

// The maximum along the ray through screen point (u, v) (physical units from the centre),
// sampled where it crosses the voxel centres' planes across `axis`, bilinearly or at the
// nearest voxel within each plane (positions past the last voxel repeat it).
double RayMax(const Volume& vol, const Rotation& R, int axis, double u, double v, bool bilinear)
{
    const auto n = vol.Size();
    const auto s = vol.Spacing();
    const int e1 = axis == 0 ? 1 : 0, e2 = axis == 2 ? 1 : 2;
    double best = 0;
    for (int k = 0; k < n[axis]; ++k) {
        // P = u r0 + v r1 + t r2 with P[axis] at slice k's centre.
        const double pk = (k + 0.5) * s[axis] - n[axis] * s[axis] / 2;
        const double t = (pk - u * R.m[0][axis] - v * R.m[1][axis]) / R.m[2][axis];
        const auto coord = [&](int e) {
            return (u * R.m[0][e] + v * R.m[1][e] + t * R.m[2][e] + n[e] * s[e] / 2) / s[e] - 0.5;
        };
        const double a = coord(e1), b = coord(e2);
        const auto voxel = [&](int i, int j) {
            std::array<int, 3> c{};
            c[axis] = k, c[e1] = std::min(i, n[e1] - 1), c[e2] = std::min(j, n[e2] - 1);
            return double(vol.At(c[0], c[1], c[2]));
        };
        if (bilinear) {
            const double fa = std::floor(a), fb = std::floor(b);
            if (fa < 0 || fb < 0 || fa > n[e1] - 1 || fb > n[e2] - 1)
                continue;
            const int i = int(fa), j = int(fb);
            const double wa = a - fa, wb = b - fb;
            best = std::max(best, (1 - wb) * ((1 - wa) * voxel(i, j) + wa * voxel(i + 1, j)) +
                                      wb * ((1 - wa) * voxel(i, j + 1) + wa * voxel(i + 1, j + 1)));
        } else {
            const double ra = std::round(a), rb = std::round(b);
            if (ra < 0 || rb < 0 || ra > n[e1] - 1 || rb > n[e2] - 1)
                continue;
            best = std::max(best, voxel(int(ra), int(rb)));
        }
    }
    return best;
}

} // namespace

// Oblique views, one mostly along each axis: every pixel lies within the range the exact
// ray maxima take within one pixel (one sample step) of it.
TEST(VolumeRenderer, RotatedPixelsAreRayMaxima)
{
    const auto vol = BlobVolume(32, 28, 20, 1, 1, 1.5);
    const struct
    {
        double az, el;
        int axis;
        VolumeSampling sampling;
    } views[] = {{30, 20, 2, VolumeSampling::Bilinear},  {70, -35, 0, VolumeSampling::Bilinear},
                 {10, 75, 1, VolumeSampling::Bilinear},  {-150, 10, 2, VolumeSampling::Bilinear},
                 {30, 20, 2, VolumeSampling::Nearest},   {70, -35, 0, VolumeSampling::Nearest}};
    for (const auto& view : views) {
        const VolumeSampling sampling = view.sampling;
        SCOPED_TRACE(testing::Message() << view.az << "," << view.el << " sampling " << int(sampling));
        const Rotation R = AzElRotation(view.az, view.el);
        // The axis the view should slice along: most voxels crossed per unit of ray.
        const auto s = vol->Spacing();
        int axis = 0;
        for (int a = 1; a < 3; ++a)
            if (std::fabs(R.m[2][a] / s[a]) > std::fabs(R.m[2][axis] / s[axis]))
                axis = a;
        ASSERT_EQ(axis, view.axis);
        const int w = 44, h = 40;
        const double scale = 0.9 * FitScale(*vol, R, w, h);
        VolumeRenderParams p = Params(R, w, h, scale, sampling);
        p.panX = 2;
        const auto out = RenderOne(p, vol);
        // A quarter of the pixels, spread evenly, each against 81 rays about it, keeps the
        // test quick.
        int checked = 0;
        for (int y = 0; y < h; ++y)
            for (int x = (2 * y) % 4; x < w; x += 4) {
                double lo = 65535, hi = 0;
                for (double dy = -1; dy <= 1; dy += 0.25)
                    for (double dx = -1; dx <= 1; dx += 0.25) {
                        const double u = (x + 0.5 + dx - w / 2.0 - p.panX) / scale;
                        const double v = (y + 0.5 + dy - h / 2.0) / scale;
                        const double m = RayMax(*vol, R, axis, u, v, sampling == VolumeSampling::Bilinear);
                        lo = std::min(lo, m), hi = std::max(hi, m);
                    }
                const double got = Pixel(out, x, y);
                ASSERT_GE(got, lo - 2) << x << "," << y;
                ASSERT_LE(got, hi + 2) << x << "," << y;
                checked += hi > 1000;
            }
        EXPECT_GT(checked, w * h / 16);
    }
}

// One bright voxel lands where the rotation puts its centre, in any view and either sampling.
TEST(VolumeRenderer, BrightVoxelFollowsRotation)
{
    for (const Vec3 view : {Vec3{0, 0, 0}, Vec3{40, 25, 0}, Vec3{100, -60, 0}, Vec3{-20, 170, 0}})
        for (VolumeSampling sampling : {VolumeSampling::Nearest, VolumeSampling::Bilinear}) {
            SCOPED_TRACE(testing::Message() << view[0] << "," << view[1]);
            auto vol = std::make_shared<Volume>(32, 30, 16, 1, 1, 2);
            vol->At(5, 20, 9) = 60000;
            const Rotation R = AzElRotation(view[0], view[1]);
            VolumeRenderParams p = Params(R, 96, 90, 1.5, sampling);
            p.panY = -3;
            const auto out = RenderOne(p, vol);
            const Vec3 centre{(5 + 0.5) * 1 - 16, (20 + 0.5) * 1 - 15, (9 + 0.5) * 2 - 16};
            Vec3 q{};
            for (int i = 0; i < 3; ++i)
                q[i] = R.m[i][0] * centre[0] + R.m[i][1] * centre[1] + R.m[i][2] * centre[2];
            const double ex = q[0] * 1.5 + 48, ey = q[1] * 1.5 + 45 - 3;
            int bx = 0, by = 0;
            for (int y = 0; y < 90; ++y)
                for (int x = 0; x < 96; ++x)
                    if (Pixel(out, x, y) > Pixel(out, bx, by))
                        bx = x, by = y;
            EXPECT_GT(Pixel(out, bx, by), 10000);
            EXPECT_LE(std::hypot(bx + 0.5 - ex, by + 0.5 - ey), 1.2) << bx << "," << by << " vs " << ex << "," << ey;
        }
}

// A ball of voxels three times as deep as wide projects round from any side.
TEST(VolumeRenderer, AnisotropicBallStaysRound)
{
    auto vol = std::make_shared<Volume>(60, 60, 20, 1, 1, 3);
    for (int z = 0; z < 20; ++z)
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 60; ++x)
                if (std::hypot(x + 0.5 - 30, y + 0.5 - 30, (z + 0.5) * 3 - 30) <= 24)
                    vol->At(x, y, z) = 50000;
    for (const Vec3 view : {Vec3{0, 0, 0}, Vec3{90, 0, 0}, Vec3{0, 90, 0}, Vec3{35, 50, 0}, Vec3{120, -20, 0}}) {
        SCOPED_TRACE(testing::Message() << view[0] << "," << view[1]);
        const auto out = RenderOne(Params(AzElRotation(view[0], view[1]), 100, 100, 1.5, VolumeSampling::Bilinear), vol);
        // Extent of the lit pixels along the two screen axes and the two diagonals.
        double lo[4] = {1e9, 1e9, 1e9, 1e9}, hi[4] = {-1e9, -1e9, -1e9, -1e9};
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                if (Pixel(out, x, y) > 25000) {
                    const double d[4] = {double(x), double(y), (x + y) / std::sqrt(2), (x - y) / std::sqrt(2)};
                    for (int i = 0; i < 4; ++i)
                        lo[i] = std::min(lo[i], d[i]), hi[i] = std::max(hi[i], d[i]);
                }
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(hi[i] - lo[i], 2 * 24 * 1.5, 3.5) << "direction " << i;
    }
}

// Front-to-back blending: an opaque front hides what is behind, from either side; values
// below the ramp are transparent; a thin layer lets the back show through.
TEST(VolumeRenderer, AlphaBlendsFrontToBack)
{
    auto vol = std::make_shared<Volume>(8, 8, 10);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            vol->At(x, y, 2) = 40000;
            vol->At(x, y, 7) = 20000;
            vol->At(x, y, 9) = 500;
        }
    VolumeRenderParams p = Params(Rotation(), 8, 8, 1, VolumeSampling::Nearest);
    p.mode = VolumeMode::Alpha;
    p.ramps = {{1000, 2000}};
    p.opacity = 1;
    EXPECT_EQ(Pixel(RenderOne(p, vol), 4, 4), 40000);
    p.rotation = AzElRotation(180, 0);
    EXPECT_EQ(Pixel(RenderOne(p, vol), 4, 4), 20000);
    p.opacity = 0.5;
    p.rotation = Rotation();
    EXPECT_NEAR(Pixel(RenderOne(p, vol), 4, 4), 0.5 * 40000 + 0.25 * 20000, 1);
    p.ramps = {{45000, 50000}};
    EXPECT_EQ(Pixel(RenderOne(p, vol), 4, 4), 0);
}

TEST(VolumeRenderer, DegenerateInputsGiveEmptyOrBlackPlanes)
{
    const auto vol = RandomVolume(4, 4, 4, 1, 1, 1);
    VolumeRenderParams p = Params(Rotation(), 0, 5, 1, VolumeSampling::Bilinear);
    EXPECT_TRUE(RenderVolume(p, {vol})[0].IsEmpty());
    p.width = 5;
    p.scale = 0;
    EXPECT_TRUE(RenderVolume(p, {vol})[0].IsEmpty());
    p.scale = 1;
    const auto planes = RenderVolume(p, {nullptr, std::make_shared<Volume>(1 << 30, 1 << 30, 1 << 30), vol});
    EXPECT_TRUE(planes[0].IsEmpty());
    EXPECT_TRUE(planes[1].IsEmpty());
    EXPECT_FALSE(planes[2].IsEmpty());
    // A clip box with nothing inside shows black, and far off-screen pans stay in bounds.
    p.clipMin = {2, 2, 2};
    p.clipMax = {2, 4, 4};
    const auto black = RenderOne(p, vol);
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(black.GetData()[i], 0);
    // A cancelled frame, by flag or by the thread's stop token, gives nothing at all.
    p.clipMin = {0, 0, 0};
    std::atomic<bool> cancel{true};
    p.cancel = &cancel;
    EXPECT_TRUE(RenderVolume(p, {vol, vol})[1].IsEmpty());
    p.cancel = nullptr;
    {
        ImageReader::StopToken token;
        token.RequestStop();
        const ImageReader::StopScope scope(&token);
        EXPECT_TRUE(RenderVolume(p, {vol})[0].IsEmpty());
    }
    p.clipMin = {2, 2, 2};
    p.clipMax = {4, 4, 4};
    p.panX = 1e12;
    const auto away = RenderOne(p, vol);
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(away.GetData()[i], 0);
}

TEST(VolumeCamera, DragsTurnAsAzimuthAndElevation)
{
    const auto near = [](const Rotation& a, const Rotation& b) {
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                if (std::fabs(a.m[i][j] - b.m[i][j]) > 1e-9)
                    return false;
        return true;
    };
    // Half a turn per view width: 30 pixels of 180 are 30 degrees.
    EXPECT_TRUE(near(TrackballDrag(Rotation(), 30, 0, 180), AzElRotation(30, 0)));
    EXPECT_TRUE(near(TrackballDrag(Rotation(), 0, -45, 180), AzElRotation(0, -45)));
    EXPECT_TRUE(near(TrackballDrag(TrackballDrag(Rotation(), 20, 0, 180), 0, 10, 180), AzElRotation(20, 10)));
    EXPECT_TRUE(near(TrackballDrag(Rotation(), 0, 0, 180), Rotation()));
    // Positive azimuth takes the right side (+x) away from the viewer.
    EXPECT_GT(AzElRotation(30, 0).Apply({1, 0, 0})[2], 0);
    EXPECT_GT(AzElRotation(0, 30).Apply({0, 1, 0})[2], 0);

    Rotation parsed;
    EXPECT_TRUE(ParseAzEl("30,-15", parsed));
    EXPECT_TRUE(near(parsed, AzElRotation(30, -15)));
    for (const char* bad : {"30", "30,", ",5", "a,b", "1,2,3", "nan,0", "1e999,0", ""})
        EXPECT_FALSE(ParseAzEl(bad, parsed)) << bad;
    EXPECT_TRUE(near(parsed, AzElRotation(30, -15)));

    EXPECT_TRUE(near(TurntableFrame(Rotation(), -1, 90), AzElRotation(90, 0)));
    const Rotation tilted = AzElRotation(15, 30);
    EXPECT_TRUE(near(TurntableFrame(tilted, 2, 360), tilted));
    // About the volume's own z axis: z keeps its place on the screen all the way round.
    for (int f = 0; f < 360; f += 45)
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(TurntableFrame(tilted, 2, f).Apply({0, 0, 1})[i], tilted.Apply({0, 0, 1})[i], 1e-9);
}

// The wheel zooms about the mouse: the voxel under it stays under it; a reset is the fit.
TEST(VolumeCamera, WheelKeepsThePointUnderTheMouse)
{
    auto vol = std::make_shared<Volume>(40, 30, 10, 1, 1, 4);
    vol->At(31, 7, 5) = 60000;
    VolumeCamera camera;
    camera.Drag(25, -10, 200);
    camera.Pan(7, -4);
    // The centre of the lit pixels.
    const auto spot = [&] {
        const auto out = RenderOne(CameraParams(camera, *vol, 120, 100), vol);
        double sx = 0, sy = 0, n = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 120; ++x)
                if (Pixel(out, x, y) > 0) {
                    sx += (x + 0.5) * Pixel(out, x, y), sy += (y + 0.5) * Pixel(out, x, y);
                    n += Pixel(out, x, y);
                }
        return std::array<double, 2>{sx / n, sy / n};
    };
    const auto before = spot();
    camera.Wheel(8, before[0], before[1], 120, 100);
    EXPECT_EQ(camera.zoom, 2);
    const auto after = spot();
    EXPECT_NEAR(after[0], before[0], 0.5);
    EXPECT_NEAR(after[1], before[1], 0.5);
    camera.Wheel(-8, 0, 0, 120, 100);
    camera.Wheel(1e9, 0, 0, 120, 100);
    EXPECT_EQ(camera.zoom, 1);
    camera.Reset();
    const VolumeRenderParams fit = CameraParams(camera, *vol, 120, 100);
    EXPECT_DOUBLE_EQ(fit.scale, 3); // 40 units across 120 pixels
    EXPECT_EQ(fit.panX, 0);
}

TEST(VolumeRenderer, HalvedVolumeKeepsBlockMaxima)
{
    const auto vol = RandomVolume(5, 4, 3, 1, 2, 3);
    const auto half = HalveVolume(*vol);
    ASSERT_EQ(half->Size(), (std::array<int, 3>{3, 2, 2}));
    EXPECT_EQ(half->Spacing(), (std::array<double, 3>{2, 4, 6}));
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                int m = 0;
                for (int k = 2 * z; k < std::min(3, 2 * z + 2); ++k)
                    for (int j = 2 * y; j < 2 * y + 2; ++j)
                        for (int i = 2 * x; i < std::min(5, 2 * x + 2); ++i)
                            m = std::max<int>(m, vol->At(i, j, k));
                EXPECT_EQ(half->At(x, y, z), m);
            }
}

namespace {

int Code(const std::vector<int>& c)
{
    return c[0] + 16 * c[1] + 256 * c[2] + 4096 * c[3];
}

} // namespace

// Level choice under the budget, dimensions in any order, decimation of the coarsest level,
// each plane read once, and cancellation.
TEST(VolumeSource, PicksTheFinestLevelThatFits)
{
    MemoryImage fine({12, 10, 8, 3});
    fine.Fill(Code);
    MemoryImage coarse({6, 5, 4, 3});
    coarse.Fill(Code);
    const std::vector<VolumeLevel> levels{{&fine, fine.GetSize()}, {&coarse, coarse.GetSize()}};

    VolumeRequest r;
    r.dims = {0, 1, 2};
    r.cursor = V({5, 5, 5, 0});
    r.channelDim = 3;
    r.channels = {2, 0};
    r.spacing = {100, 100, 300};
    r.budgetBytes = 12 * 10 * 8 * 2 * 2;
    VolumeBuild b = BuildVolume(levels, r);
    ASSERT_EQ(b.volumes.size(), 2u);
    EXPECT_EQ(b.level, 0);
    EXPECT_EQ(b.step, 1);
    EXPECT_EQ(fine.reads, 16);
    EXPECT_EQ(b.volumes[0]->Spacing(), (std::array<double, 3>{100, 100, 300}));
    for (int z = 0; z < 8; ++z)
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 12; ++x) {
                ASSERT_EQ(b.volumes[0]->At(x, y, z), Code({x, y, z, 2}));
                ASSERT_EQ(b.volumes[1]->At(x, y, z), Code({x, y, z, 0}));
            }

    // One byte short: the coarser level, with its pixel sizes.
    r.budgetBytes -= 1;
    b = BuildVolume(levels, r);
    EXPECT_EQ(b.level, 1);
    EXPECT_EQ(b.volumes[0]->Size(), (std::array<int, 3>{6, 5, 4}));
    EXPECT_EQ(b.volumes[0]->Spacing(), (std::array<double, 3>{200, 200, 600}));

    // Shown as (z, c-free y, x) with x pinned away: planes across z give the volume's x.
    r.dims = {2, 0, 1};
    r.channels = {1};
    r.budgetBytes = 1 << 20;
    fine.reads = 0;
    b = BuildVolume(levels, r);
    ASSERT_EQ(b.volumes[0]->Size(), (std::array<int, 3>{8, 12, 10}));
    EXPECT_EQ(fine.reads, 8);
    EXPECT_EQ(b.volumes[0]->At(3, 7, 9), Code({7, 9, 3, 1}));

    // Without a channel dimension any three dimensions will do; x pinned at the cursor.
    VolumeRequest any = r;
    any.channelDim = -1;
    any.dims = {1, 3, 2};
    fine.reads = 0;
    b = BuildVolume(levels, any);
    ASSERT_EQ(b.volumes.size(), 1u);
    ASSERT_EQ(b.volumes[0]->Size(), (std::array<int, 3>{10, 3, 8}));
    EXPECT_EQ(fine.reads, 24);
    EXPECT_EQ(b.volumes[0]->At(8, 2, 6), Code({5, 8, 6, 2}));

    // Too small for the coarsest level: every 2nd voxel of it, the middle of each block.
    r.dims = {0, 1, 2};
    r.budgetBytes = 3 * 3 * 2 * 2;
    coarse.reads = 0;
    b = BuildVolume(levels, r);
    EXPECT_EQ(b.level, 1);
    EXPECT_EQ(b.step, 2);
    ASSERT_EQ(b.volumes[0]->Size(), (std::array<int, 3>{3, 3, 2}));
    EXPECT_EQ(coarse.reads, 2);
    EXPECT_EQ(b.volumes[0]->At(2, 2, 1), Code({5, 4, 3, 1}));
    EXPECT_EQ(b.voxelsPerPixel, (std::array<double, 3>{0.25, 0.25, 0.25}));
    EXPECT_EQ(b.volumes[0]->Spacing()[2], 1200);

    // Nothing fits: nothing is read.
    r.budgetBytes = 1;
    coarse.reads = 0;
    EXPECT_TRUE(BuildVolume(levels, r).volumes.empty());
    EXPECT_EQ(coarse.reads, 0);

    // A missing plane stays black and is counted.
    r.budgetBytes = 1 << 20;
    fine.failing = {2 + 8 * 1}; // z 2 of channel 1 (planes are numbered z fastest)
    b = BuildVolume(levels, r);
    EXPECT_EQ(b.missingPlanes, 1u);
    EXPECT_EQ(b.volumes[0]->At(4, 4, 2), 0);
    EXPECT_EQ(b.volumes[0]->At(4, 4, 3), Code({4, 4, 3, 1}));

    // Cancelled by the control or the thread's stop token: empty, counted as it went.
    ImageReader::ProjectionControl control;
    control.cancel = true;
    EXPECT_TRUE(BuildVolume(levels, r, &control).volumes.empty());
    EXPECT_EQ(control.total.load(), 8u);
    ImageReader::StopToken token;
    token.RequestStop();
    const ImageReader::StopScope scope(&token);
    EXPECT_TRUE(BuildVolume(levels, r).volumes.empty());

    // Shown dimensions that repeat or name the channel are refused.
    r.dims = {0, 0, 2};
    EXPECT_TRUE(BuildVolume(levels, r).volumes.empty());
    r.dims = {0, 1, 3};
    EXPECT_TRUE(BuildVolume(levels, r).volumes.empty());
}

// The box outline lands on the voxel grid's corners, and the planes colour through their
// channels as slice views do.
TEST(VolumePicture, BoxAndColours)
{
    int argc = 1;
    char name[] = "test_volume";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);

    const Volume vol(10, 20, 5);
    VolumeRenderParams p = Params(Rotation(), 40, 60, 2, VolumeSampling::Nearest);
    const ProjectedBox box = ProjectVolumeBox(p, vol);
    EXPECT_EQ(box.corners[0], (std::array<double, 2>{10, 10}));
    EXPECT_EQ(box.corners[3], (std::array<double, 2>{30, 50}));
    EXPECT_EQ(box.depth[0], -2.5);
    EXPECT_EQ(box.depth[4], 2.5);
    QImage picture(40, 60, QImage::Format_RGB32);
    picture.fill(Qt::black);
    DrawVolumeBox(picture, box, {QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z")}, Qt::white);
    EXPECT_NE(picture.pixel(20, 10) & 0xFFFFFF, 0u);
    EXPECT_NE(picture.pixel(10, 30) & 0xFFFFFF, 0u);
    EXPECT_EQ(picture.pixel(20, 30) & 0xFFFFFF, 0u);

    std::vector<ImageSlice<unsigned short>> planes{MakeSlice(2, 1, {100, 0}), MakeSlice(2, 1, {100, 100}),
                                                   MakeSlice(2, 1, {100, 100})};
    ImageChannel red(0, 100, 0, 255, 0, 0), green(0, 100, 0, 0, 255, 0), blue(0, 100, 0, 0, 0, 255);
    blue.m_enabled = false;
    const RGBABuffer rgba = ColourVolumePlanes(planes, {&red, &green, &blue}, 2, 1);
    // Bytes blue, green, red, 0 per pixel.
    EXPECT_EQ(rgba[0], 0);
    EXPECT_EQ(rgba[1], 255);
    EXPECT_EQ(rgba[2], 255);
    EXPECT_EQ(rgba[4 + 1], 255);
    EXPECT_LE(rgba[4 + 2], 1);

    VolumePlanes stack(planes, 2, 1);
    EXPECT_EQ(stack.GetSize(), V({2, 1, 3}));
    EXPECT_TRUE(stack.GetSlice(V({3})).IsEmpty());
    EXPECT_EQ(stack.GetSlice(V({1})).GetData()[0], 100);

    // Spectral mode takes the stack as the image whose third dimension is the spectrum.
    MemoryImage same({2, 1, 3}, {100, 0, 100, 100, 100, 100});
    ImageChannel global(0, 100), global2(0, 100);
    const RGBABuffer fromStack = RenderSpectralView(stack, 0, 1, 2, V({0, 0, 0}), 0, 450, 2, 650, global);
    const RGBABuffer fromImage = RenderSpectralView(same, 0, 1, 2, V({0, 0, 0}), 0, 450, 2, 650, global2);
    ASSERT_TRUE(fromStack && fromImage);
    EXPECT_EQ(std::vector<unsigned char>(fromStack.get(), fromStack.get() + 8),
              std::vector<unsigned char>(fromImage.get(), fromImage.get() + 8));
}
