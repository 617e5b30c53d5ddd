#include "ui/PlainText.h"

#include <QLabel>

QLabel* NewPlainLabel(QWidget* parent, const QString& objectName)
{
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QString PlainToolTip(const QString& text)
{
    if (text.isEmpty())
        return text; // an empty tooltip is no tooltip
    // Always rich, so that Qt never guesses: escaped, every character stays literal, and
    // each line on one line, as a plain tooltip shows it.
    QString escaped = text.toHtmlEscaped();
    escaped.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    return QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(escaped);
}
