#include "SpectralColour.h"

#include <algorithm>
#include <cmath>

namespace ImageViewer {

namespace {

// A Gaussian with different widths below and above its centre.
double lobe(double x, double mu, double below, double above)
{
    const double t = (x - mu) / (x < mu ? below : above);
    return std::exp(-0.5 * t * t);
}

// Equal energy is not the sRGB white point: each channel is divided by its response to it
// (integrated over the visible range after the gamut step), so that it comes out neutral.
std::array<double, 3> gamutLine(double nm)
{
    std::array<double, 3> rgb = XyzToLinearSrgb(CieMatching(nm));
    const double lowest = std::min({rgb[0], rgb[1], rgb[2]});
    if (lowest < 0)
        for (double& c : rgb)
            c -= lowest;
    return rgb;
}

const std::array<double, 3>& equalEnergyWhite()
{
    static const std::array<double, 3> white = [] {
        std::array<double, 3> sum{0, 0, 0};
        for (double nm = 360; nm <= 830; nm += 1) {
            const std::array<double, 3> rgb = gamutLine(nm);
            for (int c = 0; c < 3; ++c)
                sum[c] += rgb[c];
        }
        return sum;
    }();
    return white;
}

// A line's colour in linear light, balanced for equal energy.
std::array<double, 3> balancedLine(double nm)
{
    std::array<double, 3> rgb = gamutLine(nm);
    const std::array<double, 3>& white = equalEnergyWhite();
    for (int c = 0; c < 3; ++c)
        rgb[c] /= white[c];
    return rgb;
}

} // namespace

std::array<double, 3> CieMatching(double nm)
{
    if (!(nm >= 360 && nm <= 830))
        return {0, 0, 0};
    const double x = 1.056 * lobe(nm, 599.8, 37.9, 31.0) + 0.362 * lobe(nm, 442.0, 16.0, 26.7) -
                     0.065 * lobe(nm, 501.1, 20.4, 26.2);
    const double y = 0.821 * lobe(nm, 568.8, 46.9, 40.5) + 0.286 * lobe(nm, 530.9, 16.3, 31.1);
    const double z = 1.217 * lobe(nm, 437.0, 11.8, 36.0) + 0.681 * lobe(nm, 459.0, 26.0, 13.8);
    return {x, y, z};
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
    const double mean = std::cbrt(sum[0] * sum[1] * sum[2]);
    std::array<double, 3> gain;
    for (int c = 0; c < 3; ++c)
        gain[c] = std::clamp(mean / sum[c], 0.5, 2.0);
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
        for (double w = 360; w <= 830; w += 1) {
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
