#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// The one exception type of the record set layer. Every failure to reach or change
// the database (file missing or unreadable, table or column missing, lock held past
// the busy time-out, disk full, read-only file, a value the column cannot hold) is
// thrown as this, with a reason the operator can read.
class CDaoException : public std::exception
{
public:
    enum class Kind
    {
        FileMissing,
        NotADatabase,
        MissingTableOrColumn,
        Locked,
        DiskFull,
        ReadOnly,
        ValueTooLong,
        BadCriteria,
        NoCurrentRecord,
        Other
    };

    CDaoException(Kind kind, const QString& reason);

    Kind kind() const noexcept { return m_kind; }
    const QString& reason() const noexcept { return m_reason; }
    const char* what() const noexcept override;

private:
    Kind m_kind;
    QString m_reason;
    QByteArray m_what;
};
