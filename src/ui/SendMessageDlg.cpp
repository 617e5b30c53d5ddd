#include "ui/SendMessageDlg.h"

#include "data/GroupMembers.h"
#include "data/QuillTime.h"
#include "data/QuillpostDoc.h"
#include "dispatch/MessageQueue.h"
#include "platform/LogCategories.h"
#include "platform/Prompt.h"
#include "platform/db/DaoException.h"
#include "ui/DialogControls.h"
#include "ui/DialogUnits.h"
#include "ui/MessageEdit.h"

#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <unordered_set>

namespace {

// The short date format of the locale, always with a four-digit year: a two-digit
// year typed into the picker would land in the wrong century.
QString shortDateFormat()
{
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

COleDateTime toOleDateTime(const QDate& date, const QTime& time)
{
    return COleDateTime(
        date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second());
}

} // namespace

CSendMessageDlg::CSendMessageDlg(QWidget* parent)
    : CDialog(parent)
{
    setObjectName(QStringLiteral("sendMessageDialog"));
    setWindowTitle(QStringLiteral("Send a message"));
    buildLayout();
}

CSendMessageDlg::~CSendMessageDlg() = default;

void CSendMessageDlg::buildLayout()
{
    const DialogUnits units(*this);

    m_pMessageEdit = new CMessageEdit(kMaxComposedLength, this);
    m_pMessageEdit->setObjectName(QStringLiteral("messageEdit"));
    m_pMessageEdit->setMinimumWidth(units.width(214));
    m_pMessageEdit->setFixedHeight(units.height(36));

    m_pDateEdit = new QDateEdit(this);
    m_pDateEdit->setObjectName(QStringLiteral("dateSend"));
    m_pDateEdit->setCalendarPopup(true);
    m_pDateEdit->setDisplayFormat(shortDateFormat());
    m_pTimeEdit = new QTimeEdit(this);
    m_pTimeEdit->setObjectName(QStringLiteral("timeSend"));
    m_pTimeEdit->setDisplayFormat(QStringLiteral("HH:mm:ss"));

    m_pUserList = NewChoiceList(this, QStringLiteral("userList"));
    m_pGroupList = NewChoiceList(this, QStringLiteral("groupList"));
    m_pUserList->setMinimumSize(units.size(95, 105));
    m_pGroupList->setMinimumSize(units.size(95, 105));

    auto* addMembers = new QPushButton(QStringLiteral("<<"), this);
    addMembers->setObjectName(QStringLiteral("addGroupMembersButton"));
    addMembers->setAutoDefault(false);
    addMembers->setToolTip(QStringLiteral("Select the members of the selected groups"));
    connect(addMembers, &QPushButton::clicked, this, &CSendMessageDlg::AddGroupMembers);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CSendMessageDlg::accept);

    auto* when = new QHBoxLayout;
    auto* whenLabel = new QLabel(QStringLiteral("When:"), this);
    whenLabel->setBuddy(m_pDateEdit);
    when->addWidget(whenLabel);
    when->addWidget(m_pDateEdit);
    when->addWidget(m_pTimeEdit);
    when->addStretch();

    auto* lists = new QGridLayout;
    auto* toLabel = new QLabel(QStringLiteral("To:"), this);
    toLabel->setBuddy(m_pUserList);
    lists->addWidget(toLabel, 0, 0);
    lists->addWidget(m_pUserList, 1, 0, 2, 1);
    lists->addWidget(addMembers, 1, 1, Qt::AlignTop);
    lists->addWidget(m_pGroupList, 1, 2, 2, 1);
    lists->setRowStretch(2, 1);
    // "<<" stands a third of the way down between the lists.
    lists->setRowMinimumHeight(1, units.height(37) + addMembers->sizeHint().height());
    addMembers->setMaximumWidth(addMembers->sizeHint().height() * 2);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pMessageEdit);
    layout->addLayout(when);
    layout->addLayout(lists, 1);
    layout->addLayout(buttons);

    setTabOrder(m_pMessageEdit, m_pDateEdit);
    setTabOrder(m_pDateEdit, m_pTimeEdit);
    setTabOrder(m_pTimeEdit, m_pUserList);
    setTabOrder(m_pUserList, addMembers);
    setTabOrder(addMembers, m_pGroupList);
    setTabOrder(m_pGroupList, ok);
}

void CSendMessageDlg::FillChoices(const CQuillpostDoc& doc)
{
    m_listUsers = CopyUserChoices(doc);
    m_listGroups = CopyGroupChoices(doc);
}

bool CSendMessageDlg::OnInitDialog()
{
    m_pMessageEdit->setPlainText(m_strMessage);
    m_pMessageEdit->moveCursor(QTextCursor::End);

    m_dateSend = m_timeSend = COleDateTime::GetCurrentTime();
    m_pDateEdit->setDate(QDate(m_dateSend.GetYear(), m_dateSend.GetMonth(), m_dateSend.GetDay()));
    m_pTimeEdit->setTime(
        QTime(m_timeSend.GetHour(), m_timeSend.GetMinute(), m_timeSend.GetSecond()));

    FillChoiceList(m_pUserList, m_listUsers, m_listRecipients);
    FillChoiceList(m_pGroupList, m_listGroups, {});

    m_pMessageEdit->setFocus();
    return true;
}

void CSendMessageDlg::AddGroupMembers()
{
    std::unordered_set<std::int32_t> members;
    for (int row = 0; row < m_pGroupList->count(); ++row) {
        QListWidgetItem* group = m_pGroupList->item(row);
        if (!group->isSelected())
            continue;
        // A group that cannot be read adds nobody; the others still count.
        try {
            ForEachGroupMember(group->data(Qt::UserRole).toInt(),
                [&members](std::int32_t userId) { members.insert(userId); });
        } catch (const CDaoException& failure) {
            qCWarning(lcDatabase, "The members of group \"%s\" could not all be read: %s",
                qUtf8Printable(group->text()), failure.what());
        }
        group->setSelected(false);
    }
    // One pass over "To:" whatever the number of members; nothing is deselected.
    for (int row = 0; row < m_pUserList->count(); ++row) {
        QListWidgetItem* entry = m_pUserList->item(row);
        if (members.contains(entry->data(Qt::UserRole).toInt()))
            entry->setSelected(true);
    }
}

void CSendMessageDlg::accept()
{
    OnOK();
}

void CSendMessageDlg::OnOK()
{
    m_strMessage = m_pMessageEdit->toPlainText();
    m_dateSend = toOleDateTime(m_pDateEdit->date(), QTime(0, 0));
    m_timeSend = toOleDateTime(QDate(1899, 12, 30), m_pTimeEdit->time());
    if (m_strMessage.isEmpty()) {
        Prompt::current().inform(kNoTextMessage);
        return;
    }
    std::vector<std::int32_t> chosen = ChosenIds(*m_pUserList);
    if (chosen.empty()) {
        Prompt::current().inform(kNoRecipientMessage);
        return;
    }
    // The date editor reaches years the queue cannot schedule.
    if (const QString refusal = DueTimeRefusal(CombineDateAndTime(m_dateSend, m_timeSend));
        !refusal.isEmpty()) {
        Prompt::current().inform(refusal);
        return;
    }
    m_listRecipients = std::move(chosen);
    QDialog::accept();
}
