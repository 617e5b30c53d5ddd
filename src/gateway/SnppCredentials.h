#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// The logins the SNPP gateway requires, read from a file of lines "NAME:HASH" (blank
// lines and lines starting with "#" are skipped). A hash is
// "pbkdf2-sha256$ITERATIONS$SALT$KEY", salt and key in Base64: the password itself is
// never stored. Checking one costs about a tenth of a second on purpose, so callers
// check off the dispatcher's thread; a loaded object is only read, by any thread.
class CSnppCredentials
{
public:
    // The iterations of PBKDF2-SHA256 in every hash made here.
    static constexpr int kIterations = 100000;

    // The line for the file that lets `name` log in with `password`, with a new salt.
    static QString MakeLine(const QString& name, const QString& password);

    // Reads the file; why it cannot be used, empty when it was read.
    QString Load(const QString& filePath);
    bool Accepts(const QString& name, const QString& password) const;
    qsizetype Size() const { return m_hashes.size(); }

private:
    QHash<QString, QByteArray> m_hashes;
};
