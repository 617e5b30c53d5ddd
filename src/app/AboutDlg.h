#pragma once

#include <QDialog>

// "About Quillpost": the program icon, its version line and OK.
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
