#pragma once

#include <QPlainTextEdit>

// The text of a message: at most `maxLength` characters on one line. Typing past the
// limit is refused; a paste or a drop is cut to what still fits, its line breaks made
// spaces (a pager shows one line). Enter and Return are left to the dialog, which
// presses its default button with them.
class CMessageEdit final : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit CMessageEdit(int maxLength, QWidget* parent = nullptr);

    int maxLength() const { return m_maxLength; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // How many characters may still go in where the cursor is, a selection that the
    // insertion would replace counted as free.
    int room() const;
    // Whatever way text came in (input methods, undo), nothing beyond the limit stays.
    void cutToLimit();

    int m_maxLength;
};
