#include "ui/DialogControls.h"

#include "platform/db/DaoValues.h"

#include <QDialog>
#include <algorithm>

QLineEdit* NewTextField(QWidget* parent, const QString& objectName)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(objectName);
    field->setMaxLength(DaoMaxTextLength);
    return field;
}

QComboBox* NewEditableCombo(QWidget* parent, const QString& objectName)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(objectName);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    return box;
}

QPushButton* NewOkButton(QDialog* dialog)
{
    auto* button = new QPushButton(QStringLiteral("OK"), dialog);
    button->setObjectName(QStringLiteral("okButton"));
    button->setDefault(true);
    QObject::connect(button, &QPushButton::clicked, dialog, &QDialog::accept);
    return button;
}

QPushButton* NewCancelButton(QDialog* dialog)
{
    auto* button = new QPushButton(QStringLiteral("Cancel"), dialog);
    button->setObjectName(QStringLiteral("cancelButton"));
    QObject::connect(button, &QPushButton::clicked, dialog, &QDialog::reject);
    return button;
}

QListWidget* NewChoiceList(QWidget* parent, const QString& objectName)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(objectName);
    list->setSelectionMode(QAbstractItemView::MultiSelection);
    return list;
}

void FillChoiceList(
    QListWidget* list, std::vector<RecordChoice> choices, const std::vector<std::int32_t>& selected)
{
    std::ranges::stable_sort(choices, [](const RecordChoice& a, const RecordChoice& b) {
        return QString::compare(a.name, b.name, Qt::CaseInsensitive) < 0;
    });
    for (const RecordChoice& choice : choices) {
        auto* item = new QListWidgetItem(choice.name, list);
        item->setData(Qt::UserRole, choice.id);
        item->setSelected(std::ranges::find(selected, choice.id) != selected.end());
    }
}

std::vector<std::int32_t> ChosenIds(const QListWidget& list)
{
    std::vector<std::int32_t> ids;
    for (int row = 0; row < list.count(); ++row) {
        if (list.item(row)->isSelected())
            ids.push_back(list.item(row)->data(Qt::UserRole).toInt());
    }
    return ids;
}

int SelectedEntry(const QComboBox& box)
{
    const int current = box.currentIndex();
    if (current < 0 || (box.isEditable() && box.currentText() != box.itemText(current)))
        return -1;
    return current;
}
