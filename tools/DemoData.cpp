#include "DemoData.h"

#include <libics.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "IcsLocale.h"
#include "korvel.h"

namespace DemoData {

namespace {

constexpr double kPi = 3.14159265358979323846;

// splitmix64: small, fast and identical on every platform (unlike <random>'s distributions).
class Rng
{
public:
    explicit Rng(uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    double uniform(double a, double b) { return a + (b - a) * uniform(); }
    // Sum of four uniforms: close enough to a unit normal for noise, and cheap.
    double noise() { return (uniform() + uniform() + uniform() + uniform() - 2.0) * 1.7320508; }

private:
    uint64_t m_state;
};

struct Spot
{
    double x, y, z, amplitude;
};

struct Cell
{
    double cx, cy, cz;   // centre in pixels / slices
    double rx, ry, rz;   // semi-axes
    double cosA, sinA;   // orientation in the xy plane
    double nx, ny, nz;   // nucleus centre offset in units of the semi-axes
    double nucleus, membrane;
    double phase;        // texture phase of the nucleus
    std::vector<Spot> vesicles;
};

uint16_t toSample(double v)
{
    return static_cast<uint16_t>(std::clamp(v, 0.0, 65535.0));
}

// Adds camera background and shot noise to one plane of signal and stores it.
void storePlane(const std::vector<float>& signal, uint16_t* out, Rng& rng, double background)
{
    for (size_t i = 0; i < signal.size(); ++i) {
        const double v = background + signal[i];
        out[i] = toSample(v + rng.noise() * std::sqrt(v) * 0.9);
    }
}

} // namespace

Volume MakeCells(int width, int height, int depth, uint32_t seed)
{
    Volume vol;
    vol.dims = {width, height, depth, 3};
    vol.names = {"x", "y", "z", "ch"};
    vol.pixelsize = {100, 100, 300, 0};
    vol.units = {"nm", "nm", "nm", ""};
    vol.data.assign(static_cast<size_t>(width) * height * depth * 3, 0);

    Rng rng(seed);
    const int count = std::max(3, static_cast<int>(width * static_cast<double>(height) / 3600.0));
    std::vector<Cell> cells;
    for (int i = 0; i < count; ++i) {
        Cell c{};
        const double r = rng.uniform(16, 28);
        const double angle = rng.uniform(0, kPi);
        c.cx = rng.uniform(0, width);
        c.cy = rng.uniform(0, height);
        c.cz = rng.uniform(0.3, 0.7) * depth;
        c.rx = r * rng.uniform(0.85, 1.2);
        c.ry = r * rng.uniform(0.75, 1.0);
        // z is sampled three times coarser than x and y: a round cell spans a third of the slices.
        c.rz = std::max(2.0, r / 3.0 * rng.uniform(0.7, 1.0));
        c.cosA = std::cos(angle);
        c.sinA = std::sin(angle);
        c.nx = rng.uniform(-0.15, 0.15);
        c.ny = rng.uniform(-0.15, 0.15);
        c.nz = rng.uniform(-0.1, 0.1);
        c.nucleus = rng.uniform(1500, 3200);
        c.membrane = rng.uniform(900, 2000);
        c.phase = rng.uniform(0, 2 * kPi);
        const int spots = 6 + static_cast<int>(rng.uniform(0, 10));
        for (int s = 0; s < spots; ++s) {
            // Somewhere in the cytoplasm: between the nucleus and the membrane.
            const double q = rng.uniform(0.6, 0.85);
            const double a = rng.uniform(0, 2 * kPi);
            const double b = rng.uniform(-0.5, 0.5);
            const double u = q * std::cos(a) * std::cos(b) * c.rx;
            const double v = q * std::sin(a) * std::cos(b) * c.ry;
            c.vesicles.push_back({c.cx + u * c.cosA - v * c.sinA, c.cy + u * c.sinA + v * c.cosA,
                                  c.cz + q * std::sin(b) * c.rz, rng.uniform(1200, 4000)});
        }
        cells.push_back(std::move(c));
    }

    const size_t plane = static_cast<size_t>(width) * height;
    std::vector<float> signal[3];
    for (auto& s : signal)
        s.resize(plane);
    for (int z = 0; z < depth; ++z) {
        for (auto& s : signal)
            std::fill(s.begin(), s.end(), 0.0f);
        // Light from deeper slices is a little weaker.
        const double attenuation = 1.0 - 0.3 * z / std::max(1, depth - 1);
        for (const Cell& c : cells) {
            const double w = (z - c.cz) / c.rz;
            if (std::fabs(w) > 1.3)
                continue;
            const double reach = 1.3 * std::max(c.rx, c.ry);
            const int x0 = std::max(0, static_cast<int>(c.cx - reach)), x1 = std::min(width - 1, static_cast<int>(c.cx + reach));
            const int y0 = std::max(0, static_cast<int>(c.cy - reach)), y1 = std::min(height - 1, static_cast<int>(c.cy + reach));
            for (int y = y0; y <= y1; ++y) {
                for (int x = x0; x <= x1; ++x) {
                    const double dx = x - c.cx, dy = y - c.cy;
                    const double u = (dx * c.cosA + dy * c.sinA) / c.rx;
                    const double v = (-dx * c.sinA + dy * c.cosA) / c.ry;
                    const double q = std::sqrt(u * u + v * v + w * w);
                    const size_t i = static_cast<size_t>(y) * width + x;
                    // Membrane: a thin shell; cytoplasm: a faint fill inside it.
                    const double shell = std::exp(-((q - 1) * (q - 1)) / (2 * 0.06 * 0.06));
                    double m = c.membrane * (shell + (q < 1 ? 0.12 : 0.0));
                    signal[1][i] += static_cast<float>(m * attenuation);
                    // Nucleus: a textured ellipsoid of half the cell's size, soft at its edge.
                    const double nu = (u - c.nx) / 0.5, nv = (v - c.ny) / 0.5, nw = (w - c.nz) / 0.55;
                    const double qn = nu * nu + nv * nv + nw * nw;
                    if (qn < 1.0) {
                        const double texture = 0.8 + 0.12 * std::sin(7 * u + c.phase) * std::cos(6 * v - c.phase) +
                                               0.08 * std::sin(19 * (u + v));
                        signal[0][i] += static_cast<float>(c.nucleus * (1 - qn * qn) * texture * attenuation);
                    }
                }
            }
            for (const Spot& s : c.vesicles) {
                const double sz = (z - s.z) / 0.7;
                if (std::fabs(sz) > 3)
                    continue;
                const double fz = std::exp(-sz * sz / 2);
                const int sx0 = std::max(0, static_cast<int>(s.x) - 4), sx1 = std::min(width - 1, static_cast<int>(s.x) + 4);
                const int sy0 = std::max(0, static_cast<int>(s.y) - 4), sy1 = std::min(height - 1, static_cast<int>(s.y) + 4);
                for (int y = sy0; y <= sy1; ++y)
                    for (int x = sx0; x <= sx1; ++x) {
                        const double r2 = (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y);
                        signal[2][static_cast<size_t>(y) * width + x] +=
                            static_cast<float>(s.amplitude * fz * std::exp(-r2 / (2 * 1.4 * 1.4)) * attenuation);
                    }
            }
        }
        for (int ch = 0; ch < 3; ++ch)
            storePlane(signal[ch], &vol.data[vol.index(0, 0, z, ch)], rng, 100.0 + 20.0 * ch);
    }
    return vol;
}

Volume MakeSpectral(int width, int height, int samples, uint32_t seed)
{
    Volume vol;
    vol.dims = {width, height, samples};
    vol.names = {"x", "y", "wl"};
    vol.pixelsize = {200, 200, 0};
    vol.units = {"nm", "nm", ""};
    vol.data.assign(static_cast<size_t>(width) * height * samples, 0);

    // Index to wavelength as the viewer's default calibration maps them (367 -> 488 nm, 646 -> 658 nm).
    const double a = (658.0 - 488.0) / (646.0 - 367.0);
    const double b = 488.0 - a * 367.0;
    struct Blob
    {
        double x, y, r, amplitude, peak;
    };
    Rng rng(seed);
    const double peaks[] = {470, 520, 580, 640};
    std::vector<Blob> blobs;
    const int count = std::max(4, width * height / 900);
    for (int i = 0; i < count; ++i)
        blobs.push_back({rng.uniform(0, width), rng.uniform(0, height), rng.uniform(7, 16), rng.uniform(700, 1000),
                         peaks[i % 4] + rng.uniform(-8, 8)});

    // Per pixel: the amplitude of each blob, then one spectrum summed over blobs.
    std::vector<float> spectrum(static_cast<size_t>(samples));
    const size_t plane = static_cast<size_t>(width) * height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::fill(spectrum.begin(), spectrum.end(), 0.0f);
            for (const Blob& blob : blobs) {
                const double d2 = ((x - blob.x) * (x - blob.x) + (y - blob.y) * (y - blob.y)) / (blob.r * blob.r);
                if (d2 > 2.5)
                    continue;
                const double amp = blob.amplitude * std::exp(-d2 * d2);
                for (int i = 0; i < samples; ++i) {
                    // A broad emission band with a longer red tail and a shoulder, as
                    // fluorophores have; broad bands keep the summed colour bright.
                    const double wl = i * a + b;
                    const double sigma = wl < blob.peak ? 35.0 : 60.0;
                    const double t = (wl - blob.peak) / sigma;
                    const double t2 = (wl - blob.peak - 45.0) / 35.0;
                    spectrum[static_cast<size_t>(i)] +=
                        static_cast<float>(amp * (std::exp(-t * t / 2) + 0.35 * std::exp(-t2 * t2 / 2)));
                }
            }
            for (int i = 0; i < samples; ++i) {
                const double v = 20.0 + spectrum[static_cast<size_t>(i)];
                vol.data[static_cast<size_t>(i) * plane + static_cast<size_t>(y) * width + x] =
                    toSample(v + rng.noise() * std::sqrt(v) * 0.5);
            }
        }
    }
    return vol;
}

bool WriteICS(const Volume& volume, const std::filesystem::path& file)
{
    // Pixel sizes must be written in C number format whatever locale the program adopted.
    const ImageReader::IcsLocaleScope cLocale;
    ICS* ics = nullptr;
    if (IcsOpen(&ics, file.string().c_str(), "w2") != IcsErr_Ok)
        return false;
    std::vector<size_t> dims(volume.dims.begin(), volume.dims.end());
    bool ok = IcsSetLayout(ics, Ics_uint16, static_cast<int>(dims.size()), dims.data()) == IcsErr_Ok &&
              IcsSetData(ics, volume.data.data(), volume.data.size() * sizeof(uint16_t)) == IcsErr_Ok &&
              IcsSetCompression(ics, IcsCompr_uncompressed, 0) == IcsErr_Ok;
    for (size_t i = 0; ok && i < dims.size(); ++i) {
        const int d = static_cast<int>(i);
        ok = IcsSetOrder(ics, d, volume.names[i].c_str(), volume.names[i].c_str()) == IcsErr_Ok;
        const double scale = volume.units[i].empty() ? 1.0 : volume.pixelsize[i];
        ok = ok && IcsSetPosition(ics, d, 0.0, scale, volume.units[i].empty() ? nullptr : volume.units[i].c_str()) ==
                       IcsErr_Ok;
    }
    // IcsClose writes the file; it must run whatever happened before.
    const bool closed = IcsClose(ics) == IcsErr_Ok;
    return ok && closed;
}

bool WriteTIFFSeries(const Volume& volume, const std::filesystem::path& folder, const std::string& prefix)
{
    if (volume.dims.size() != 4)
        return false;
    const int w = volume.dims[0], h = volume.dims[1];
    std::vector<uint16_t> plane(static_cast<size_t>(w) * h);
    for (int c = 0; c < volume.dims[3]; ++c) {
        for (int z = 0; z < volume.dims[2]; ++z) {
            const uint16_t* src = &volume.data[volume.index(0, 0, z, c)];
            std::copy(src, src + plane.size(), plane.begin());
            IMAGE image{w, h, 16, 1, plane.data()};
            char name[64];
            std::snprintf(name, sizeof name, "_z%03d_c%d.tif", z, c);
            const std::filesystem::path file = folder / (prefix + name);
            if (SimpleTIFFWriteImage(&image, file.string().c_str()) != 0)
                return false;
        }
    }
    return true;
}

} // namespace DemoData
