// Shrinking a page for display by area averaging: every screen pixel is the
// mean of the page area it covers, so that thin black strokes of a bilevel
// page become grey instead of vanishing, as they do when pixels are dropped.
// The page is first averaged over whole k x k blocks (a bilevel page straight
// from its packed bits), then the remaining factor of less than 2 exactly.
#pragma once

#include <QImage>
#include <QSize>

namespace orvo::widgets {

// Bilevel pages are held as Format_Mono, most significant bit first, a set
// bit black (colour 1 black, colour 0 white), as TIFF files with
// photometric "min is white" store them.
QImage MakeBilevel(int width, int height);
// The same page as Grayscale8 (0 black, 255 white).
QImage ExpandBilevel(const QImage& bilevel);

// The whole-block factor for showing a page of `page` size at `size`: the
// largest k with the page's k x k blocks no fewer than `size` in either
// direction (1 when `size` is not smaller).
int BlockFactor(QSize page, QSize size);

// The page (bilevel, Grayscale8 or RGB32) averaged over whole blocks for
// showing it at `size` (at least 1 x 1): grey levels as Grayscale8, or for a
// bilevel page as Indexed8 whose index is the block's black count and whose
// colour table holds the grey level of each count. Blocks cut by the right or
// bottom edge average the pixels they have. The result is no smaller than
// `size` and less than twice as large; a bilevel page shown at its own size
// or between half and full size comes back as Grayscale8.
QImage ReduceByBlocks(const QImage& page, QSize size);

// The page (bilevel, Grayscale8, or any other format Qt scales itself) shrunk
// to exactly `size` (no larger than the page, at least 1 x 1) as RGB32, ready
// to paint; a null image otherwise.
QImage ShrinkForDisplay(const QImage& page, QSize size);
// ShrinkForDisplayPlain, the plain passes ShrinkForDisplay is held to, is
// test-only: orvo/widgets/shrink_plain.h (orvo_widgets_reference).
// The same pixels as ShrinkForDisplay, those of a bilevel page shrunk by
// block counts as Grayscale8: a quarter of the bytes to write and to paint
// from, which is what the view keeps and paints.
QImage ShrinkForPainting(const QImage& page, QSize size);

}  // namespace orvo::widgets
