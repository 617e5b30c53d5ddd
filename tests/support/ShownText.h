#pragma once

#include <QString>
#include <QTextDocument>

// What the operator reads of a text shown in the given format. Qt renders a text it
// takes as rich (in AutoText, whenever it looks like markup, as in every tooltip), so
// markup in a stored name would turn into formatting and its characters be lost.
inline QString ShownText(const QString& text, Qt::TextFormat format = Qt::AutoText)
{
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}
