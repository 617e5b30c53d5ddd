#pragma once

#include <QDialog>

class QLineEdit;

// "Enter the name for the group". The caller presets m_strName and reads it back
// after OK; Cancel leaves it as preset.
class CGroupDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CGroupDlg(QWidget* parent = nullptr);
    ~CGroupDlg() override;

    QString m_strName;

    void accept() override;
    // Shows m_strName the first time the dialog is about to appear.
    void setVisible(bool visible) override;

private:
    QLineEdit* m_editName = nullptr;
    bool m_bInitialised = false;
};
