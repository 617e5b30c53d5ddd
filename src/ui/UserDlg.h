#pragma once

#include "data/AddressBook.h"

#include "ui/Dialog.h"
#include <cstdint>
#include <vector>

class QComboBox;
class QLineEdit;
class QListWidget;

// "Enter Information about the User": name, telephone number, preferred service
// provider and the groups the user belongs to. The caller presets the members, runs
// the dialog and, after OK, reads them back; the dialog writes nothing itself. The
// providers are read from the table when the dialog first shows; the groups are the
// copies handed in, so a reload of the document meanwhile does not touch them.
class CUserDlg : public CDialog
{
    Q_OBJECT

public:
    explicit CUserDlg(std::vector<RecordChoice> groups, QWidget* parent = nullptr);
    ~CUserDlg() override;

    // The chosen provider's ID; 0 for "Default Provider".
    std::int32_t m_nPreferredProvider = 0;
    // In: the groups to preselect. Out: the chosen ones, in the list's order.
    std::vector<std::int32_t> m_listGroupIds;
    QString m_strName;
    QString m_strPhone;

    void accept() override;

protected:
    // Shows the members, as the caller preset them after construction.
    bool OnInitDialog() override;
    void OnOK();

private:
    void CreateControls();
    void FillProviders();
    void FillGroups();

    std::vector<RecordChoice> m_groups;
    QListWidget* m_listGroups = nullptr;
    QComboBox* m_comboProviders = nullptr;
    QLineEdit* m_editName = nullptr;
    QLineEdit* m_editPhone = nullptr;
};
