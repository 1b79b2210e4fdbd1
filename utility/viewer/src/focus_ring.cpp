#include "focus_ring.h"

#include <QApplication>
#include <QFocusFrame>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QStyleHintReturnMask>
#include <QStyleOption>

#include "controls.h"

namespace orvo::viewer {

namespace {

constexpr int kRingWidth = 2;

// Draws the focus frame as a ring of kRingWidth pixels around the control,
// and lets everything inside the ring through.
class RingStyle : public QProxyStyle {
  public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        if (element != CE_FocusFrame) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        painter->save();
        painter->setPen(Qt::NoPen);
        painter->setBrush(option->palette.color(QPalette::Active, QPalette::Highlight));
        painter->drawPath(Ring(option->rect));
        painter->restore();
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_FocusFrameHMargin || metric == PM_FocusFrameVMargin) return kRingWidth;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_FocusFrame_Mask) {
            if (auto* mask = qstyleoption_cast<QStyleHintReturnMask*>(returnData)) {
                mask->region =
                    QRegion(option->rect) - QRegion(option->rect.adjusted(
                                                kRingWidth, kRingWidth, -kRingWidth, -kRingWidth));
            }
            return 1;
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

  private:
    static QPainterPath Ring(const QRect& rect) {
        QPainterPath path;
        path.addRect(rect);
        path.addRect(rect.adjusted(kRingWidth, kRingWidth, -kRingWidth, -kRingWidth));
        return path;  // odd-even fill: the ring only
    }
};

}  // namespace

void InstallFocusRing(QWidget* window) {
    auto* frame = new QFocusFrame(window);
    auto* style = new RingStyle;
    style->setParent(frame);
    frame->setStyle(style);
    frame->hide();
    QObject::connect(qApp, &QApplication::focusChanged, frame,
                     [window, frame](QWidget*, QWidget* now) {
                         // Inside a combo box or the page list, the ring
                         // goes round the whole control.
                         QWidget* target = now;
                         for (QWidget* w = now; w && w != window; w = w->parentWidget()) {
                             if (w->property(kControlIdProperty).isValid()) {
                                 target = w;
                                 break;
                             }
                         }
                         if (target && target->window() == window && target != window) {
                             frame->setWidget(target);
                         } else if (!target || target->window() == window) {
                             frame->setWidget(nullptr);
                         }
                     });
}

}  // namespace orvo::viewer
