#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <QVariantList>
#include <array>
#include <cstdint>

// A temporary folder holding Quillpost.mdb, made the current directory for the
// object's lifetime (the previous one is restored afterwards), so that record sets
// opened meanwhile find the file. Helpers write and read rows on a connection of
// their own; they throw CDaoException when a statement fails.
class TempDatabase
{
public:
    enum class Content
    {
        Schema,
        NoFile
    };

    explicit TempDatabase(Content content = Content::Schema);
    ~TempDatabase();
    Q_DISABLE_COPY_MOVE(TempDatabase)

    QString filePath() const { return m_dir.filePath(QStringLiteral("Quillpost.mdb")); }

    void exec(const QString& sql, const QVariantList& values = {}) const { scalar(sql, values); }
    // The first column of the first row; for an INSERT, the new row's ID.
    QVariant scalar(const QString& sql, const QVariantList& values = {}) const;
    // Every row of the table in ID order as the expression over its columns gives it
    // ("Status || ',' || Retries"); a row the expression makes NULL is left out.
    QStringList rows(const QString& table, const QString& expression) const;
    // The file's journal mode ("wal", "delete", ...) as a plain SQLite connection reports
    // it, after switching the file to `change` if one is given.
    QString journalMode(const QString& change = {}) const;

    // Each adds a row and returns the ID it was given.
    std::int32_t addUser(const QString& name, const QString& telephoneNumber,
        std::int32_t preferredProvider = 0, const std::array<std::int32_t, 10>& groups = {}) const
    {
        return insert(QStringLiteral("Users"),
            QVariantList { name, telephoneNumber, preferredProvider }
                + QVariantList(groups.begin(), groups.end()));
    }
    std::int32_t addGroup(const QString& name) const
    {
        return insert(QStringLiteral("Groups"), { name });
    }
    // BaudRate 1200, StopBits 1, Parity 1 (even), DataBits 7, TAPType 1.
    std::int32_t addProvider(
        const QString& name, const QString& accessNumber, std::int32_t useAsDefault = 0) const
    {
        return insert(QStringLiteral("ServiceProviders"),
            { name, accessNumber, 1200, 1, 1, 7, 1, useAsDefault });
    }
    // MessageCount 1, Retries 0; SendTime and RequestTime equal to RequiredSendTime,
    // all as "YYYY-MM-DD HH:MM:SS".
    std::int32_t addMessageRow(std::int32_t recipient, std::int32_t messageId, const QString& text,
        std::int32_t status = 0,
        const QString& requiredSendTime = QStringLiteral("2026-01-01 12:00:00")) const
    {
        return insert(QStringLiteral("Messages"),
            { recipient, 1, messageId, text, status, requiredSendTime, requiredSendTime,
                requiredSendTime, 0 });
    }

private:
    // The values fill the table's columns after ID, in table order.
    std::int32_t insert(const QString& table, const QVariantList& values) const;

    QTemporaryDir m_dir;
    QString m_previousCurrent;
};
