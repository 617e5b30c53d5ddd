#pragma once

#include "ui/Dialog.h"

class CModemList;
class QComboBox;

// Lets the operator pick the modem to dial with. Discovery runs when the dialog is
// first about to be shown; after OK, m_nSelectedDevice is the device index chosen (or the one
// that already carried the stored name when nothing was picked).
class CSelectModemDlg : public CDialog
{
    Q_OBJECT

public:
    explicit CSelectModemDlg(CModemList& modems, QWidget* parent = nullptr);
    ~CSelectModemDlg() override;

    int m_nSelectedDevice = -2;

    void accept() override;

protected:
    // Discovers the devices and fills the combo box, preselecting the stored modem;
    // it runs before the dialog is on screen, so that discovery's messages come first.
    bool OnInitDialog() override;
    // Takes the current item's device index, then closes with OK.
    void OnOK();

private:
    CModemList& m_modems;
    QComboBox* m_comboModems = nullptr;
};
