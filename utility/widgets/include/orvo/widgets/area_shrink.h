// Shrinking a grey page by area averaging: every output pixel is the mean of
// the source area it covers, fractional edge pixels weighted by their share.
// Thin black strokes of a bilevel page become grey instead of vanishing, as
// they do when pixels are dropped.
#pragma once

#include <QImage>
#include <QSize>

namespace orvo::widgets {

// `source` must be Grayscale8; `size` no larger than the source in either
// direction and at least 1 x 1. Returns a Grayscale8 image of that size (a
// null image for other input).
QImage ShrinkGrey(const QImage& source, QSize size);

}  // namespace orvo::widgets
