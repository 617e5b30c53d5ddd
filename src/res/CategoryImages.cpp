#include "res/CategoryImages.h"

#include <QPainter>
#include <QPainterPath>

namespace Res {

namespace {

constexpr int S = kTreeImageSize;

QPixmap blankImage()
{
    QPixmap pixmap(S, S);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void drawPerson(QPainter& p, QPointF headCentre, qreal scale, const QColor& colour)
{
    p.setPen(QPen(colour.darker(160), 1));
    p.setBrush(colour);
    p.drawEllipse(headCentre, 3.6 * scale, 3.6 * scale);
    QPainterPath body;
    const qreal top = headCentre.y() + 4.5 * scale;
    body.moveTo(headCentre.x() - 6.5 * scale, top + 8 * scale);
    body.quadTo(headCentre.x() - 6.5 * scale, top, headCentre.x(), top);
    body.quadTo(headCentre.x() + 6.5 * scale, top, headCentre.x() + 6.5 * scale, top + 8 * scale);
    body.closeSubpath();
    p.drawPath(body);
}

QPixmap usersImage()
{
    QPixmap pixmap = blankImage();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    drawPerson(p, QPointF(12.5, 7), 1.0, QColor(52, 110, 190));
    return pixmap;
}

QPixmap groupsImage()
{
    QPixmap pixmap = blankImage();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    drawPerson(p, QPointF(7.5, 7.5), 0.8, QColor(60, 150, 90));
    drawPerson(p, QPointF(17.5, 7.5), 0.8, QColor(60, 150, 90));
    drawPerson(p, QPointF(12.5, 11), 0.85, QColor(40, 120, 70));
    return pixmap;
}

QPixmap messagesImage()
{
    QPixmap pixmap = blankImage();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A pager: a rounded case with a display and a button.
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(90, 90, 100));
    p.drawRoundedRect(QRectF(2.5, 6.5, 20, 13), 3, 3);
    p.setBrush(QColor(170, 210, 150));
    p.drawRect(QRectF(5.5, 9.5, 11, 7));
    p.setPen(QPen(QColor(40, 70, 40), 1));
    p.drawLine(QPointF(7, 12), QPointF(15, 12));
    p.drawLine(QPointF(7, 14.5), QPointF(12.5, 14.5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(210, 60, 50));
    p.drawEllipse(QPointF(19.5, 13), 1.6, 1.6);
    return pixmap;
}

QPixmap providersImage()
{
    QPixmap pixmap = blankImage();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A radio mast with its waves.
    p.setPen(QPen(QColor(120, 70, 30), 1.5));
    p.drawLine(QPointF(12.5, 9), QPointF(7, 23));
    p.drawLine(QPointF(12.5, 9), QPointF(18, 23));
    p.drawLine(QPointF(9.2, 17.5), QPointF(15.8, 17.5));
    p.setBrush(QColor(200, 50, 40));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(12.5, 8), 2, 2);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(200, 50, 40), 1.2));
    p.drawArc(QRectF(6.5, 2, 12, 12), 30 * 16, 120 * 16);
    p.drawArc(QRectF(3.5, -1, 18, 18), 40 * 16, 100 * 16);
    return pixmap;
}

} // namespace

QPixmap TreeImagePixmap(int imageIndex)
{
    switch (imageIndex) {
    case kUsersImage:
        return usersImage();
    case kGroupsImage:
        return groupsImage();
    case kMessagesImage:
        return messagesImage();
    case kProvidersImage:
        return providersImage();
    default:
        return QPixmap();
    }
}

QIcon ProgramIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawPixmap(QRect(0, 0, 32, 32), messagesImage());
    return QIcon(pixmap);
}

} // namespace Res
