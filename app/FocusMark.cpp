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
        if (element == PE_FrameFocusRect) {
            drawMark(option, painter);
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (element == PE_PanelLineEdit && (option->state & State_HasFocus))
            drawMark(option, painter);
    }

    // Styles such as Fusion mark a focused button, list or spin box only by
    // a tinted 1 px outline, drawn without a focus rectangle.
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override {
        QProxyStyle::drawControl(element, option, painter, widget);
        if (element == CE_PushButtonBevel && (option->state & State_HasFocus))
            drawMark(option, painter);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                            QPainter *painter, const QWidget *widget) const override {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        if ((control == CC_ComboBox || control == CC_SpinBox) && (option->state & State_HasFocus))
            drawMark(option, painter);
    }

private:
    static void drawMark(const QStyleOption *option, QPainter *painter) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        QPen pen(option->palette.color(QPalette::Active, QPalette::Highlight), 2);
        pen.setJoinStyle(Qt::MiterJoin);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        // A 2 px pen centred 1 px inside the edge keeps the line within the control.
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
