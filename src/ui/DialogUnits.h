#pragma once

#include <QFontMetrics>
#include <QSize>
#include <QWidget>

// Sizes given in dialog units (a quarter of the font's average character width
// across, an eighth of its height down), turned into pixels for the widget's font,
// so that controls keep their proportions at whatever font the desktop uses.
class DialogUnits
{
public:
    explicit DialogUnits(const QWidget& widget)
        : m_metrics(widget.font())
    {
    }

    int width(int units) const { return units * m_metrics.averageCharWidth() / 4; }
    int height(int units) const { return units * m_metrics.height() / 8; }
    QSize size(int across, int down) const { return { width(across), height(down) }; }

private:
    QFontMetrics m_metrics;
};
