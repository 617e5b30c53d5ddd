#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// Times `work` `runs` times and gives the median in milliseconds. `check` runs after
// each timed run, untimed; it throws std::runtime_error when the work was not done.
double MedianMs(int runs, const std::function<void()>& work,
    const std::function<void()>& check = {});

// One printed figure: the program's median against the floor measured in the same run.
struct Figure
{
    QString name;
    double ms = 0;
    double floorMs = 0;
    double target = 0; // the highest ratio to the floor that meets the target
    QString floorName;
};

// Prints a figure as one aligned line and keeps it for the summary.
class BenchReport
{
public:
    void add(const Figure& figure);
    // A line of its own (a memory figure, a note) kept for the summary as it is.
    void note(const QString& line);
    // Every line so far, as a Markdown table and the notes after it.
    QString markdown() const;
    bool allMet() const;

private:
    std::vector<Figure> m_figures;
    QStringList m_notes;
};

// One row of the scaling table: the message rows and each measured operation's median
// (with its floor) at that size.
struct ScalingRow
{
    long long messageRows = 0;
    double reloadMs = 0;
    double reloadFloorMs = 0;
    double refreshMs = 0;
    double refreshFloorMs = 0;
};

QString ScalingTable(const std::vector<ScalingRow>& rows);
// Draws the four series against the message rows into a PNG file; false when it
// cannot be written.
bool PlotScaling(const std::vector<ScalingRow>& rows, const QString& pngPath);

// Stops the benchmark: the work was not done, or a part of it did not start.
[[noreturn]] void BenchFail(const QString& what);

// What a simulator's log holds: the pages its terminal took and the bytes of its calls.
struct SimLogPage
{
    QByteArray pagerId;
    QByteArray text;
    QByteArray protocol;
    bool acknowledged = true;
};
struct SimLog
{
    QList<SimLogPage> pages;
    long long bytes = 0; // received and sent, over every call that ended
};
// An empty log when the file is not there (yet).
SimLog ReadSimLog(const QString& path);
