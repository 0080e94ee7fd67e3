#pragma once
// The widget OpenGL draws into. Qt must never paint it: the frame loop owns every
// pixel, and a Qt background painted over the GL surface flickers on resize and expose.
#include <QWidget>

class GlView : public QWidget
{
public:
    explicit GlView(QWidget* parent = nullptr) : QWidget(parent)
    {
        setAttribute(Qt::WA_PaintOnScreen);
        setAttribute(Qt::WA_NoSystemBackground);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    // No paint engine: with WA_PaintOnScreen this keeps Qt's painting away entirely.
    QPaintEngine* paintEngine() const override { return nullptr; }
};
