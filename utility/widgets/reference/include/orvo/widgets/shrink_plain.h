// Test only (orvo_widgets_reference): the display's shrinking made the plain
// way, every block count of a bilevel page through both averaging passes,
// without passing over white: the reference ShrinkForDisplay is held to in
// the tests and the benchmarks.
#pragma once

#include <QImage>
#include <QSize>

namespace orvo::widgets {

QImage ShrinkForDisplayPlain(const QImage& page, QSize size);

}  // namespace orvo::widgets
