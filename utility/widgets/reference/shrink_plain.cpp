#include "orvo/widgets/shrink_plain.h"

#include "area_average.h"

namespace orvo::widgets {

QImage ShrinkForDisplayPlain(const QImage& page, QSize size) {
    return detail::Shrink(page, size, detail::AreaAverage<2>, detail::AreaAverage<4>,
                          detail::AreaAverage<6>);
}

}  // namespace orvo::widgets
