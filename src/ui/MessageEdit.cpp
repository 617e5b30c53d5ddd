#include "ui/MessageEdit.h"

#include "dispatch/MessageQueue.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QSignalBlocker>
#include <algorithm>

CMessageEdit::CMessageEdit(int maxLength, QWidget* parent)
    : QPlainTextEdit(parent)
    , m_maxLength(maxLength)
{
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    connect(this, &QPlainTextEdit::textChanged, this, &CMessageEdit::cutToLimit);
}

int CMessageEdit::room() const
{
    const QTextCursor cursor = textCursor();
    const int selected = cursor.selectionEnd() - cursor.selectionStart();
    return m_maxLength - static_cast<int>(toPlainText().size()) + selected;
}

void CMessageEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
    }
    const QString typed = event->text();
    const bool insertsText = !typed.isEmpty() && typed.at(0).isPrint()
        && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (insertsText && typed.size() > room()) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void CMessageEdit::insertFromMimeData(const QMimeData* source)
{
    if (!source || !source->hasText())
        return;
    const QString text = JoinedLines(source->text());
    QTextCursor cursor = textCursor();
    cursor.insertText(text.left(std::max(room(), 0)));
    setTextCursor(cursor);
    ensureCursorVisible();
}

void CMessageEdit::cutToLimit()
{
    const QString text = toPlainText();
    if (text.size() <= m_maxLength)
        return;
    const QSignalBlocker blocker(this);
    setPlainText(text.left(m_maxLength));
    moveCursor(QTextCursor::End);
}
