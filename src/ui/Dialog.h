#pragma once

#include <QDialog>

// A dialog whose controls are filled from its members by OnInitDialog once, just before
// it first appears: the caller constructs it, presets the members, then runs it. A
// dialog shown again keeps what the operator had entered.
class CDialog : public QDialog
{
public:
    using QDialog::QDialog;

    void setVisible(bool visible) override
    {
        if (visible && !m_bInitialised) {
            m_bInitialised = true;
            OnInitDialog();
        }
        QDialog::setVisible(visible);
    }

protected:
    virtual bool OnInitDialog() { return true; }

private:
    bool m_bInitialised = false;
};
