#pragma once

#include "ui/Dialog.h"

class QLineEdit;

// "Enter the name for the group". The caller presets m_strName and reads it back
// after OK; Cancel leaves it as preset.
class CGroupDlg : public CDialog
{
    Q_OBJECT

public:
    explicit CGroupDlg(QWidget* parent = nullptr);
    ~CGroupDlg() override;

    QString m_strName;

    void accept() override;

protected:
    bool OnInitDialog() override;

private:
    QLineEdit* m_editName = nullptr;
};
