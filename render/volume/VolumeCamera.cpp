#include "VolumeCamera.h"

#include <cmath>
#include <cstdlib>

namespace ImageViewer {

namespace {

constexpr double Pi = 3.14159265358979323846;

double Dot(const std::array<double, 3>& a, const std::array<double, 3>& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

std::array<double, 3> Cross(const std::array<double, 3>& a, const std::array<double, 3>& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

std::array<double, 3> Normalised(std::array<double, 3> a)
{
    const double n = std::sqrt(Dot(a, a));
    if (n > 0)
        for (double& x : a)
            x /= n;
    return a;
}

// Gram-Schmidt on the first two rows, the third their cross product.
Rotation Orthonormalised(Rotation r)
{
    r.m[0] = Normalised(r.m[0]);
    const double d = Dot(r.m[0], r.m[1]);
    for (int i = 0; i < 3; ++i)
        r.m[1][i] -= d * r.m[0][i];
    r.m[1] = Normalised(r.m[1]);
    r.m[2] = Cross(r.m[0], r.m[1]);
    return r;
}

} // namespace

std::array<double, 3> Rotation::Apply(const std::array<double, 3>& p) const
{
    return {Dot(m[0], p), Dot(m[1], p), Dot(m[2], p)};
}

std::array<double, 3> Rotation::Unapply(const std::array<double, 3>& q) const
{
    std::array<double, 3> p{};
    for (int i = 0; i < 3; ++i)
        p[i] = m[0][i] * q[0] + m[1][i] * q[1] + m[2][i] * q[2];
    return p;
}

Rotation Rotation::Then(const Rotation& after) const
{
    Rotation r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r.m[i][j] = after.m[i][0] * m[0][j] + after.m[i][1] * m[1][j] + after.m[i][2] * m[2][j];
    return r;
}

Rotation AxisRotation(std::array<double, 3> axis, double degrees)
{
    Rotation r;
    axis = Normalised(axis);
    if (Dot(axis, axis) == 0)
        return r;
    // Rodrigues' formula.
    const double a = degrees * Pi / 180, c = std::cos(a), s = std::sin(a), t = 1 - c;
    const double x = axis[0], y = axis[1], z = axis[2];
    r.m = {{{t * x * x + c, t * x * y - s * z, t * x * z + s * y},
            {t * x * y + s * z, t * y * y + c, t * y * z - s * x},
            {t * x * z - s * y, t * y * z + s * x, t * z * z + c}}};
    return r;
}

Rotation AzElRotation(double az, double el)
{
    // Screen y points down, so "right side away" is a turn about -y and "bottom away" about +x.
    return AxisRotation({0, -1, 0}, az).Then(AxisRotation({1, 0, 0}, el));
}

bool ParseAzEl(const std::string& text, Rotation& out)
{
    const size_t comma = text.find(',');
    if (comma == std::string::npos)
        return false;
    const auto number = [](const std::string& part, double& value) {
        char* end = nullptr;
        value = std::strtod(part.c_str(), &end);
        return !part.empty() && end == part.c_str() + part.size() && std::isfinite(value);
    };
    double az = 0, el = 0;
    if (!number(text.substr(0, comma), az) || !number(text.substr(comma + 1), el))
        return false;
    out = AzElRotation(az, el);
    return true;
}

Rotation TrackballDrag(const Rotation& current, double dx, double dy, double viewSize)
{
    const double length = std::hypot(dx, dy);
    if (length == 0 || !(viewSize > 0) || !std::isfinite(length))
        return current;
    const double degrees = 180 * length / viewSize;
    return Orthonormalised(current.Then(AxisRotation({dy, -dx, 0}, degrees)));
}

Rotation TurntableFrame(const Rotation& start, int axis, int frame, int frames)
{
    if (frames < 1)
        return start;
    const double degrees = 360.0 * frame / frames;
    if (axis < 0 || axis > 2)
        return start.Then(AxisRotation({0, -1, 0}, degrees));
    std::array<double, 3> a{0, 0, 0};
    a[static_cast<size_t>(axis)] = 1;
    // A turn about a volume axis happens before the view's own rotation.
    return AxisRotation(a, degrees).Then(start);
}

void VolumeCamera::Wheel(double notches, double x, double y, int width, int height)
{
    const double factor = std::pow(2.0, notches / 8);
    const double next = zoom * factor;
    if (!std::isfinite(next) || !(next > 1e-6) || next > 1e6)
        return;
    // The screen point (x, y) from the picture's centre shows volume point (s - pan) / scale.
    const double sx = x - width / 2.0, sy = y - height / 2.0;
    panX = sx - (sx - panX) * factor;
    panY = sy - (sy - panY) * factor;
    zoom = next;
}

} // namespace ImageViewer
