#include "SpectralColour.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ImageViewer {

namespace {

double luminance(const std::array<double, 3>& rgb)
{
    return 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
}

// The hue angle (degrees) of a linear sRGB colour in the OKLab space, which keeps hues of
// equal look at equal angles where CIELAB bends blue into purple.
double okHue(const std::array<double, 3>& c)
{
    const double l = std::cbrt(0.4122214708 * c[0] + 0.5363325363 * c[1] + 0.0514459929 * c[2]);
    const double m = std::cbrt(0.2119034982 * c[0] + 0.6806995451 * c[1] + 0.1073969566 * c[2]);
    const double s = std::cbrt(0.0883024619 * c[0] + 0.2817188376 * c[1] + 0.6299787005 * c[2]);
    const double a = 1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s;
    const double b = 0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s;
    const double h = std::atan2(b, a) * 180 / M_PI;
    return h < 0 ? h + 360 : h;
}

// The most saturated colours of the sRGB gamut, around the hue circle: red, yellow, green,
// cyan, blue, magenta at t = 0..5, straight edges of the colour cube between them.
std::array<double, 3> cubeEdge(double t)
{
    const int k = std::clamp(static_cast<int>(t), 0, 5);
    const double f = t - k;
    switch (k) {
    case 0: return {1, f, 0};
    case 1: return {1 - f, 1, 0};
    case 2: return {0, 1, f};
    case 3: return {0, 1 - f, 1};
    case 4: return {f, 0, 1};
    default: return {1, 0, 1 - f};
    }
}

// Going round the edges from red, the hue rises steadily from red's to red's plus 360.
double unwrappedEdgeHue(double t)
{
    static const double red = okHue({1, 0, 0});
    const double h = okHue(cubeEdge(t));
    return h < red - 1e-9 || (t > 3 && h < 180) ? h + 360 : h;
}

// A pure line lies outside the gamut: it is shown as the gamut's most saturated colour of
// its hue, at its own luminance. Lines beyond the red primary (from about 615 nm) keep
// red: their hue would otherwise swing round to magenta, unlike what the eye sees.
// `y` is the line's luminance on the scale of `rgb` (where equal energy sums to white 1).
std::array<double, 3> intoGamut(const std::array<double, 3>& rgb, double y, double nm)
{
    if (std::min({rgb[0], rgb[1], rgb[2]}) >= 0)
        return rgb;
    if (!(y > 0))
        return {0, 0, 0};
    static const double red = okHue({1, 0, 0});
    double h = okHue(rgb);
    if (nm >= 560 && (h < red || h > 300))
        h = red;
    if (h < red)
        h += 360;
    double lo = 0, hi = 6;
    for (int i = 0; i < 40; ++i) {
        const double mid = (lo + hi) / 2;
        (unwrappedEdgeHue(mid) < h ? lo : hi) = mid;
    }
    std::array<double, 3> edge = cubeEdge(lo);
    const double scale = y / luminance(edge);
    for (double& c : edge)
        c *= scale;
    return edge;
}

// Equal energy is not the sRGB white point: each channel is divided by its response to it,
// so that it comes out neutral. The fourth entry is the luminance's (CIE Y) response.
const std::array<double, 4>& equalEnergyWhite()
{
    static const std::array<double, 4> white = [] {
        std::array<double, 4> sum{0, 0, 0, 0};
        for (double nm = 380; nm <= 780; nm += 1) {
            const std::array<double, 3> xyz = CieMatching(nm);
            const std::array<double, 3> rgb = XyzToLinearSrgb(xyz);
            for (int c = 0; c < 3; ++c)
                sum[c] += rgb[c];
            sum[3] += xyz[1];
        }
        return sum;
    }();
    return white;
}

// A line's colour in linear light, balanced for equal energy and brought into the gamut.
std::array<double, 3> exactLine(double nm)
{
    const std::array<double, 3> xyz = CieMatching(nm);
    std::array<double, 3> rgb = XyzToLinearSrgb(xyz);
    const std::array<double, 4>& white = equalEnergyWhite();
    for (int c = 0; c < 3; ++c)
        rgb[c] /= white[c];
    return intoGamut(rgb, xyz[1] / white[3], nm);
}

// The same at every whole nanometre, interpolated in between: the gamut step searches, and
// a spectral view asks for a thousand lines per picture.
std::array<double, 3> balancedLine(double nm)
{
    static const std::vector<std::array<double, 3>> table = [] {
        std::vector<std::array<double, 3>> t;
        for (int w = 380; w <= 780; ++w)
            t.push_back(exactLine(w));
        return t;
    }();
    if (!(nm >= 380 && nm <= 780))
        return {0, 0, 0};
    const double at = nm - 380;
    const size_t i = std::min<size_t>(static_cast<size_t>(at), table.size() - 2);
    const double f = at - static_cast<double>(i);
    std::array<double, 3> rgb;
    for (size_t c = 0; c < 3; ++c)
        rgb[c] = table[i][c] + f * (table[i + 1][c] - table[i][c]);
    return rgb;
}

// The share (0..1) of each channel's response to the whole visible band that lies between
// lo and hi nm.
std::array<double, 3> spanCoverage(double lo, double hi)
{
    // Running sums of the lines' channels at whole nanometres from 380 nm.
    static const std::vector<std::array<double, 3>> running = [] {
        std::vector<std::array<double, 3>> sums(1, {0, 0, 0});
        for (int w = 380; w <= 780; ++w) {
            const std::array<double, 3> rgb = balancedLine(w);
            std::array<double, 3> next = sums.back();
            for (size_t c = 0; c < 3; ++c)
                next[c] += std::max(rgb[c], 0.0);
            sums.push_back(next);
        }
        return sums;
    }();
    const auto at = [&](double nm) {
        return static_cast<size_t>(std::clamp(std::floor(nm) - 380 + 1, 0.0, static_cast<double>(running.size() - 1)));
    };
    const std::array<double, 3>& total = running.back();
    const std::array<double, 3>& below = running[at(lo) > 0 ? at(lo) - 1 : 0];
    const std::array<double, 3>& upTo = running[at(hi)];
    std::array<double, 3> share{};
    for (size_t c = 0; c < 3; ++c)
        share[c] = total[c] > 0 ? (upTo[c] - below[c]) / total[c] : 0.0;
    return share;
}

} // namespace

std::array<double, 3> CieMatching(double nm)
{
    // The CIE 1931 2-degree standard observer, 380 to 780 nm in 5 nm steps.
    static const double table[81][3] = {
    {0.001368, 3.9e-05, 0.00645}, {0.002236, 6.4e-05, 0.01055}, {0.004243, 0.00012, 0.02005}, {0.00765, 0.000217, 0.03621},
    {0.01431, 0.000396, 0.06785}, {0.02319, 0.00064, 0.1102}, {0.04351, 0.00121, 0.2074}, {0.07763, 0.00218, 0.3713},
    {0.13438, 0.004, 0.6456}, {0.21477, 0.0073, 1.03905}, {0.2839, 0.0116, 1.3856}, {0.3285, 0.01684, 1.62296},
    {0.34828, 0.023, 1.74706}, {0.34806, 0.0298, 1.7826}, {0.3362, 0.038, 1.77211}, {0.3187, 0.048, 1.7441},
    {0.2908, 0.06, 1.6692}, {0.2511, 0.0739, 1.5281}, {0.19536, 0.09098, 1.28764}, {0.1421, 0.1126, 1.0419},
    {0.09564, 0.13902, 0.81295}, {0.05795, 0.1693, 0.6162}, {0.03201, 0.20802, 0.46518}, {0.0147, 0.2586, 0.3533},
    {0.0049, 0.323, 0.272}, {0.0024, 0.4073, 0.2123}, {0.0093, 0.503, 0.1582}, {0.0291, 0.6082, 0.1117},
    {0.06327, 0.71, 0.07825}, {0.1096, 0.7932, 0.05725}, {0.1655, 0.862, 0.04216}, {0.22575, 0.91485, 0.02984},
    {0.2904, 0.954, 0.0203}, {0.3597, 0.9803, 0.0134}, {0.43345, 0.99495, 0.00875}, {0.51205, 1, 0.00575},
    {0.5945, 0.995, 0.0039}, {0.6784, 0.9786, 0.00275}, {0.7621, 0.952, 0.0021}, {0.8425, 0.9154, 0.0018},
    {0.9163, 0.87, 0.00165}, {0.9786, 0.8163, 0.0014}, {1.0263, 0.757, 0.0011}, {1.0567, 0.6949, 0.001},
    {1.0622, 0.631, 0.0008}, {1.0456, 0.5668, 0.0006}, {1.0026, 0.503, 0.00034}, {0.9384, 0.4412, 0.00024},
    {0.85445, 0.381, 0.00019}, {0.7514, 0.321, 0.0001}, {0.6424, 0.265, 5e-05}, {0.5419, 0.217, 3e-05},
    {0.4479, 0.175, 2e-05}, {0.3608, 0.1382, 1e-05}, {0.2835, 0.107, 0}, {0.2187, 0.0816, 0},
    {0.1649, 0.061, 0}, {0.1212, 0.04458, 0}, {0.0874, 0.032, 0}, {0.0636, 0.0232, 0},
    {0.04677, 0.017, 0}, {0.0329, 0.01192, 0}, {0.0227, 0.00821, 0}, {0.01584, 0.005723, 0},
    {0.0113592, 0.004102, 0}, {0.00811092, 0.002929, 0}, {0.00579035, 0.002091, 0}, {0.00410946, 0.001484, 0},
    {0.00289933, 0.001047, 0}, {0.00204919, 0.00074, 0}, {0.00143997, 0.00052, 0}, {0.000999949, 0.0003611, 0},
    {0.000690079, 0.0002492, 0}, {0.000476021, 0.0001719, 0}, {0.000332301, 0.00012, 0}, {0.000234826, 8.48e-05, 0},
    {0.000166151, 6e-05, 0}, {0.000117413, 4.24e-05, 0}, {8.30753e-05, 3e-05, 0}, {5.87065e-05, 2.12e-05, 0},
    {4.15099e-05, 1.499e-05, 0}
    };
    if (!(nm >= 380 && nm <= 780))
        return {0, 0, 0};
    const double at = (nm - 380) / 5;
    const int i = std::min(static_cast<int>(at), 79);
    const double f = at - i;
    return {table[i][0] + f * (table[i + 1][0] - table[i][0]), table[i][1] + f * (table[i + 1][1] - table[i][1]),
            table[i][2] + f * (table[i + 1][2] - table[i][2])};
}

std::array<double, 3> XyzToLinearSrgb(const std::array<double, 3>& v)
{
    return {3.2406 * v[0] - 1.5372 * v[1] - 0.4986 * v[2], -0.9689 * v[0] + 1.8758 * v[1] + 0.0415 * v[2],
            0.0557 * v[0] - 0.2040 * v[1] + 1.0570 * v[2]};
}

double EncodeSrgb(double linear)
{
    if (!(linear > 0))
        return 0.0;
    if (linear >= 1)
        return 1.0;
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

double WhiteBalanceStrength(const std::vector<double>& nm)
{
    // A narrow band (430-470 nm, say) is not white light: pulling its channels level would
    // turn a blue line purple. The balance fades in as the least covered channel goes from
    // half to nine tenths of its response.
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (double w : nm)
        if (std::isfinite(w)) {
            lo = std::min(lo, w);
            hi = std::max(hi, w);
        }
    if (!(hi >= lo))
        return 0;
    const std::array<double, 3> cover = spanCoverage(lo, hi);
    return std::clamp((std::min({cover[0], cover[1], cover[2]}) - 0.5) / 0.4, 0.0, 1.0);
}

std::vector<std::array<double, 3>> TrueColourWeights(const std::vector<double>& nm)
{
    std::vector<std::array<double, 3>> weights;
    weights.reserve(nm.size());
    std::array<double, 3> sum{0, 0, 0};
    for (double w : nm) {
        weights.push_back(balancedLine(w));
        for (int c = 0; c < 3; ++c)
            sum[c] += weights.back()[c];
    }
    if (sum[0] <= 0 || sum[1] <= 0 || sum[2] <= 0) {
        // Some channel is not reached at all: no balance to strike, only the hue to keep.
        double top = 0;
        for (const auto& w : weights)
            top = std::max({top, w[0], w[1], w[2]});
        if (top > 0)
            for (auto& w : weights)
                for (double& c : w)
                    c /= top;
        return weights;
    }
    const double strength = WhiteBalanceStrength(nm);
    const double mean = std::cbrt(sum[0] * sum[1] * sum[2]);
    std::array<double, 3> gain;
    for (int c = 0; c < 3; ++c)
        gain[c] = std::pow(std::clamp(mean / sum[c], 0.5, 2.0), strength);
    double top = 0;
    for (auto& w : weights)
        for (int c = 0; c < 3; ++c) {
            w[c] *= gain[c];
            top = std::max(top, w[c]);
        }
    for (auto& w : weights)
        for (double& c : w)
            c /= top;
    return weights;
}

std::array<unsigned char, 3> WavelengthToSrgb(double nm)
{
    static const double peak = [] {
        double p = 0;
        for (double w = 380; w <= 780; w += 1) {
            const std::array<double, 3> rgb = balancedLine(w);
            p = std::max({p, rgb[0], rgb[1], rgb[2]});
        }
        return p;
    }();
    const std::array<double, 3> rgb = balancedLine(nm);
    const double top = std::max({rgb[0], rgb[1], rgb[2]});
    // The matching functions' tails: below a thousandth of their peak the eye sees nothing.
    if (!(top > 1e-3 * peak))
        return {0, 0, 0};
    std::array<unsigned char, 3> out;
    for (int c = 0; c < 3; ++c)
        out[c] = static_cast<unsigned char>(std::lround(255 * EncodeSrgb(rgb[c] / top)));
    return out;
}

} // namespace ImageViewer
