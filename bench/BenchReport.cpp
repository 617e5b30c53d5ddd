#include "BenchReport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QImage>
#include <QPainter>
#include <QTextStream>
#include <algorithm>
#include <stdexcept>

double MedianMs(int runs, const std::function<void()>& work, const std::function<void()>& check)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (check)
            check();
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void BenchReport::add(const Figure& figure)
{
    m_figures.push_back(figure);
    const double ratio = figure.ms / figure.floorMs;
    QTextStream(stdout) << QStringLiteral("%1 %2 ms   floor %3 ms (%4)   ratio %5   target <= %6  %7\n")
                               .arg(figure.name, -46)
                               .arg(figure.ms, 9, 'f', 1)
                               .arg(figure.floorMs, 9, 'f', 1)
                               .arg(figure.floorName)
                               .arg(ratio, 0, 'f', figure.target < 0.1 ? 4 : 2)
                               .arg(figure.target, 0, 'f', 2)
                               .arg(ratio <= figure.target ? QStringLiteral("met")
                                                           : QStringLiteral("MISSED"));
}

void BenchReport::note(const QString& line)
{
    m_notes.append(line);
    QTextStream(stdout) << line << '\n';
}

QString BenchReport::markdown() const
{
    QString out = QStringLiteral("| Figure | Median | Floor | Ratio | Target |\n|---|---:|---:|---:|---:|\n");
    for (const Figure& f : m_figures)
        out += QStringLiteral("| %1 | %2 ms | %3 ms | %4 | <= %5 |\n")
                   .arg(f.name)
                   .arg(f.ms, 0, 'f', 1)
                   .arg(f.floorMs, 0, 'f', 1)
                   .arg(f.ms / f.floorMs, 0, 'f', f.target < 0.1 ? 4 : 2)
                   .arg(f.target, 0, 'f', 2);
    for (const QString& line : m_notes)
        out += QStringLiteral("\n") + line + QStringLiteral("\n");
    return out;
}

bool BenchReport::allMet() const
{
    return std::all_of(m_figures.begin(), m_figures.end(),
        [](const Figure& f) { return f.ms / f.floorMs <= f.target; });
}

QString ScalingTable(const std::vector<ScalingRow>& rows)
{
    QString out = QStringLiteral("| Message rows | ReloadAll | its floor | RefreshTree | its floor | "
                                 "ReloadAll per 1,000 rows |\n|---:|---:|---:|---:|---:|---:|\n");
    for (const ScalingRow& r : rows)
        out += QStringLiteral("| %1 | %2 ms | %3 ms | %4 ms | %5 ms | %6 ms |\n")
                   .arg(r.messageRows)
                   .arg(r.reloadMs, 0, 'f', 1)
                   .arg(r.reloadFloorMs, 0, 'f', 1)
                   .arg(r.refreshMs, 0, 'f', 1)
                   .arg(r.refreshFloorMs, 0, 'f', 1)
                   .arg(r.reloadMs * 1000.0 / double(r.messageRows), 0, 'f', 2);
    return out;
}

bool PlotScaling(const std::vector<ScalingRow>& rows, const QString& pngPath)
{
    if (rows.empty())
        return false;
    const QSize size(1040, 560);
    const QRect plot(90, 40, 620, 440);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    const double maxRows = double(rows.back().messageRows);
    double maxMs = 1;
    for (const ScalingRow& r : rows)
        maxMs = std::max({ maxMs, r.reloadMs, r.reloadFloorMs, r.refreshMs, r.refreshFloorMs });
    auto at = [&](double messageRows, double ms) {
        return QPointF(plot.left() + plot.width() * messageRows / maxRows,
            plot.bottom() - plot.height() * ms / (maxMs * 1.05));
    };

    painter.setPen(Qt::black);
    painter.drawRect(plot);
    painter.drawText(QRect(0, 4, size.width(), 30), Qt::AlignCenter,
        QStringLiteral("Time against message rows (10,000 users; median of runs)"));
    painter.drawText(QRect(plot.left(), plot.bottom() + 28, plot.width(), 20), Qt::AlignCenter,
        QStringLiteral("Message rows"));
    double lastLabel = -1e9;
    for (const ScalingRow& r : rows) {
        const QPointF p = at(double(r.messageRows), 0);
        painter.drawLine(p, p + QPointF(0, 5));
        // A label too close to the one before would run into it.
        if (p.x() - lastLabel < 70)
            continue;
        painter.drawText(QRectF(p.x() - 40, p.y() + 6, 80, 16), Qt::AlignCenter,
            QString::number(r.messageRows));
        lastLabel = p.x();
    }
    for (int i = 0; i <= 4; ++i) {
        const double ms = maxMs * 1.05 * i / 4;
        const QPointF p = at(0, ms);
        painter.drawLine(p, p - QPointF(5, 0));
        painter.drawText(QRectF(p.x() - 85, p.y() - 8, 76, 16), Qt::AlignRight | Qt::AlignVCenter,
            QStringLiteral("%1 ms").arg(ms, 0, 'f', 0));
    }

    struct Series
    {
        QString name;
        QColor colour;
        double ScalingRow::*value;
    };
    const Series series[] = {
        { QStringLiteral("ReloadAll"), QColor(200, 40, 40), &ScalingRow::reloadMs },
        { QStringLiteral("ReloadAll floor (SQLite C API)"), QColor(240, 150, 150), &ScalingRow::reloadFloorMs },
        { QStringLiteral("RefreshTree"), QColor(30, 80, 200), &ScalingRow::refreshMs },
        { QStringLiteral("RefreshTree floor (bare tree)"), QColor(140, 170, 240), &ScalingRow::refreshFloorMs },
    };
    int legend = 0;
    for (const Series& s : series) {
        painter.setPen(QPen(s.colour, 2));
        QPointF previous = at(0, 0);
        for (const ScalingRow& r : rows) {
            const QPointF p = at(double(r.messageRows), r.*s.value);
            painter.drawLine(previous, p);
            painter.drawEllipse(p, 3, 3);
            previous = p;
        }
        const int y = plot.top() + 10 + 22 * legend++;
        painter.drawLine(plot.right() + 15, y, plot.right() + 40, y);
        painter.setPen(Qt::black);
        painter.drawText(plot.right() + 46, y + 5, s.name);
    }
    painter.end();
    return image.save(pngPath);
}

void BenchFail(const QString& what)
{
    throw std::runtime_error(what.toStdString());
}

SimLog ReadSimLog(const QString& path)
{
    SimLog log;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return log;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        const QString kind = event.value(QStringLiteral("event")).toString();
        if (kind == QLatin1String("page"))
            log.pages.append({ event.value(QStringLiteral("pagerId")).toString().toLatin1(),
                event.value(QStringLiteral("text")).toString().toLatin1(),
                event.value(QStringLiteral("protocol")).toString().toLatin1(),
                event.value(QStringLiteral("acknowledged")).toBool(true) });
        else if (kind == QLatin1String("call-end"))
            log.bytes += event.value(QStringLiteral("received")).toInteger()
                + event.value(QStringLiteral("sent")).toInteger();
    }
    return log;
}
