#pragma once

#include <QString>
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
    enum class Content { Schema, NoFile };

    explicit TempDatabase(Content content = Content::Schema);
    ~TempDatabase();
    Q_DISABLE_COPY_MOVE(TempDatabase)

    QString folder() const { return m_dir.path(); }
    QString filePath() const { return m_dir.filePath(QStringLiteral("Quillpost.mdb")); }

    void exec(const QString& sql, const QVariantList& values = {}) const { scalar(sql, values); }
    // The first column of the first row; for an INSERT, the new row's ID.
    QVariant scalar(const QString& sql, const QVariantList& values = {}) const;

    // Each returns the ID the new row was given.
    std::int32_t addUser(const QString& name, const QString& telephoneNumber, std::int32_t preferredProvider = 0,
                         const std::array<std::int32_t, 10>& groups = {}) const;
    std::int32_t addGroup(const QString& name) const;
    std::int32_t addProvider(const QString& name, const QString& accessNumber, std::int32_t useAsDefault = 0) const;
    // RequiredSendTime and the other times as "YYYY-MM-DD HH:MM:SS".
    std::int32_t addMessageRow(std::int32_t recipient, std::int32_t messageId, const QString& text,
                               std::int32_t status = 0, const QString& requiredSendTime = QStringLiteral("2026-01-01 12:00:00")) const;

private:
    std::int32_t insert(const QString& table, const QVariantList& values) const;

    QTemporaryDir m_dir;
    QString m_previousCurrent;
};
