#pragma once

#include <QIcon>

namespace ImageViewer {

// The program's icon: three orthogonal slices, drawn at the usual sizes.
QIcon AppIcon();

} // namespace ImageViewer
