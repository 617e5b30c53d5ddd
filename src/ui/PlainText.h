#pragma once

#include <QString>

class QLabel;
class QWidget;

// Names, pager IDs and what a terminal or the database said are shown exactly as they
// are stored. Qt takes any text that looks like markup as rich text in labels and
// tooltips: a name such as <h1>BIG</h1> would turn into a heading, and an <img> tag
// would make Qt read the file it names.

// A label that shows whatever text it is given character for character.
QLabel* NewPlainLabel(QWidget* parent, const QString& objectName);

// A tooltip (which has no text-format switch) showing `text` literally, its line
// breaks and runs of spaces kept.
QString PlainToolTip(const QString& text);
