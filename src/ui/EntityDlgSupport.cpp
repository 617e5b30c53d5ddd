#include "ui/EntityDlgSupport.h"

#include "platform/db/DaoValues.h"

#include <QDialog>

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

int DialogUnitsWide(const QWidget& widget, int units)
{
    return units * widget.fontMetrics().averageCharWidth() / 4;
}

int SelectedEntry(const QComboBox& box)
{
    const int current = box.currentIndex();
    if (current < 0 || (box.isEditable() && box.currentText() != box.itemText(current)))
        return -1;
    return current;
}
