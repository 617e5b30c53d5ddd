#pragma once

#include "data/AddressBook.h"
#include "platform/db/OleDateTime.h"

#include "ui/Dialog.h"
#include <cstdint>
#include <vector>

class CMessageEdit;
class CQuillpostDoc;
class QDateEdit;
class QListWidget;
class QTimeEdit;

// "Send a message": the operator writes the text, chooses when it is due and picks the
// recipients, one by one or by pulling in the members of groups with "<<". The dialog
// writes nothing; after OK the caller queues what it hands back.
//
// The dialog holds copies of the users and groups it offers: a send may record its
// result, and the document reload, while the dialog is open.
class CSendMessageDlg final : public CDialog
{
    Q_OBJECT

public:
    static inline const QString kNoTextMessage = QStringLiteral("Please enter a message");
    static inline const QString kNoRecipientMessage
        = QStringLiteral("You must select some recipients for the message");

    explicit CSendMessageDlg(QWidget* parent = nullptr);
    ~CSendMessageDlg() override;

    // Copies the document's users and groups, in its order, as the choices offered.
    void FillChoices(const CQuillpostDoc& doc);

    // In: users to preselect. Out, after OK: the chosen users in the order of the
    // "To:" list.
    std::vector<std::int32_t> m_listRecipients;
    std::vector<RecordChoice> m_listUsers;
    std::vector<RecordChoice> m_listGroups;
    // In: the text to start with. Out: the text composed, never empty.
    QString m_strMessage;
    // After OK: only the date of the one and the time of day of the other count.
    COleDateTime m_dateSend;
    COleDateTime m_timeSend;

    void accept() override;

    // "<<": selects the members of every selected group, as the Users table holds them,
    // then deselects the groups.
    void AddGroupMembers();

protected:
    // Shows the text, the time now and the choices, the preset recipients selected.
    bool OnInitDialog() override;
    void OnOK();

private:
    void buildLayout();

    CMessageEdit* m_pMessageEdit = nullptr;
    QDateEdit* m_pDateEdit = nullptr;
    QTimeEdit* m_pTimeEdit = nullptr;
    QListWidget* m_pUserList = nullptr;
    QListWidget* m_pGroupList = nullptr;
};
