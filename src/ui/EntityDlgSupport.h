#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

// Pieces the user, group and service provider dialogs share.

// A text field for a Text column: it takes no more than the column can hold, so
// nothing typed is refused later by the database.
QLineEdit* NewTextField(QWidget* parent, const QString& objectName);
// An editable combo box whose typed text never becomes an entry of its own.
QComboBox* NewEditableCombo(QWidget* parent, const QString& objectName);
// OK (the default button, for Enter) or Cancel, wired to accept or reject.
QPushButton* NewOkButton(QDialog* dialog);
QPushButton* NewCancelButton(QDialog* dialog);

// A width given in dialog units (a quarter of the font's average character width),
// so that the controls keep the proportions they were laid out with at any font.
int DialogUnitsWide(const QWidget& widget, int units);

// The entry of a combo box that is chosen: the current one, as long as an editable
// field still shows that entry's text. Once the operator types something else into
// the field no entry counts as chosen, and -1 is returned, as for an empty box.
int SelectedEntry(const QComboBox& box);
