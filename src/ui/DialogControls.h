#pragma once

#include "data/AddressBook.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <cstdint>
#include <vector>

// Pieces the dialogs share.

// A text field for a Text column: it takes no more than the column can hold, so
// nothing typed is refused later by the database.
QLineEdit* NewTextField(QWidget* parent, const QString& objectName);
// An editable combo box whose typed text never becomes an entry of its own.
QComboBox* NewEditableCombo(QWidget* parent, const QString& objectName);
// OK (the default button, for Enter) or Cancel, wired to accept or reject.
QPushButton* NewOkButton(QDialog* dialog);
QPushButton* NewCancelButton(QDialog* dialog);

// A list of users or groups where each click picks an entry or takes it back.
QListWidget* NewChoiceList(QWidget* parent, const QString& objectName);
// Fills the list with the choices in alphabetical order, any case, each entry holding
// its record's ID; the entries whose ID is among `selected` are picked.
void FillChoiceList(
    QListWidget* list, std::vector<RecordChoice> choices, const std::vector<std::int32_t>& selected);
// The IDs of the picked entries, in the list's order.
std::vector<std::int32_t> ChosenIds(const QListWidget& list);

// The entry of a combo box that is chosen: the current one, as long as an editable
// field still shows that entry's text. Once the operator types something else into
// the field no entry counts as chosen, and -1 is returned, as for an empty box.
int SelectedEntry(const QComboBox& box);
