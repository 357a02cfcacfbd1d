#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include "ViewMath.h"

// The model's plain geometry and text in the toolkit's types.
namespace ImageViewer {

inline QRect ToQRect(const PixelRect& r) { return QRect(r.x, r.y, r.width, r.height); }
inline PixelRect ToPixelRect(const QRect& r) { return PixelRect{r.x(), r.y(), r.width(), r.height()}; }
inline QSize ToQSize(const PixelSize& s) { return QSize(s.width, s.height); }
inline PixelSize ToPixelSize(const QSize& s) { return PixelSize{s.width(), s.height()}; }
inline QString ToQString(const std::string& utf8) { return QString::fromStdString(utf8); }

} // namespace ImageViewer
