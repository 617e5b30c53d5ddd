#include "res/ToolbarImages.h"

#include <QPainter>
#include <QPixmap>

namespace Res {

namespace {

constexpr int kWidth = 16;
constexpr int kHeight = 15;

template <typename Draw> QIcon drawn(Draw draw)
{
    QPixmap pixmap(kWidth, kHeight);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    return QIcon(pixmap);
}

void drawPage(QPainter& p, QRectF page)
{
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(Qt::white);
    p.drawRect(page);
    p.setPen(QPen(QColor(120, 120, 160), 1));
    for (qreal y = page.top() + 3; y < page.bottom() - 1; y += 2.5)
        p.drawLine(QPointF(page.left() + 2, y), QPointF(page.right() - 2, y));
}

} // namespace

QIcon CutImage()
{
    return drawn([](QPainter& p) {
        p.setPen(QPen(QColor(70, 70, 70), 1.3));
        p.drawLine(QPointF(5, 1), QPointF(10, 9));
        p.drawLine(QPointF(11, 1), QPointF(6, 9));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(30, 60, 150), 1.5));
        p.drawEllipse(QPointF(4.5, 11.5), 2.3, 2.3);
        p.drawEllipse(QPointF(11.5, 11.5), 2.3, 2.3);
    });
}

QIcon CopyImage()
{
    return drawn([](QPainter& p) {
        drawPage(p, QRectF(1.5, 0.5, 8, 10));
        drawPage(p, QRectF(6.5, 4.5, 8, 10));
    });
}

QIcon PasteImage()
{
    return drawn([](QPainter& p) {
        p.setPen(QPen(QColor(90, 60, 20), 1));
        p.setBrush(QColor(190, 140, 70));
        p.drawRect(QRectF(1.5, 1.5, 10, 12.5));
        p.setBrush(QColor(160, 160, 160));
        p.drawRect(QRectF(4, 0.5, 5, 2.5));
        drawPage(p, QRectF(7.5, 5.5, 7.5, 9));
    });
}

QIcon PrintImage()
{
    return drawn([](QPainter& p) {
        drawPage(p, QRectF(4.5, 0.5, 7, 6));
        p.setPen(QPen(QColor(50, 50, 50), 1));
        p.setBrush(QColor(170, 170, 175));
        p.drawRoundedRect(QRectF(0.5, 5.5, 15, 6.5), 1.5, 1.5);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(3.5, 10.5, 9, 4));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(60, 170, 60));
        p.drawEllipse(QPointF(13, 7.5), 0.9, 0.9);
    });
}

} // namespace Res
