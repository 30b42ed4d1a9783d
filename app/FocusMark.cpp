#include "FocusMark.h"

#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

namespace krv::app {

namespace {

class FocusMarkStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override {
        if (element != PE_FrameFocusRect) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        QPen pen(option->palette.color(QPalette::Active, QPalette::Highlight), 2);
        pen.setJoinStyle(Qt::MiterJoin);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        // A 2 px pen centred on a rectangle 1 px inside the option's keeps
        // both pixels of the line within the control.
        painter->drawRect(QRectF(option->rect).adjusted(1, 1, -1, -1));
        painter->restore();
    }
};

} // namespace

void installFocusMark(QApplication &application) {
    // The style the operator chose with -style, or the platform's, underneath.
    QStyle *base = QStyleFactory::create(application.style()->name());
    application.setStyle(new FocusMarkStyle(base));
}

} // namespace krv::app
