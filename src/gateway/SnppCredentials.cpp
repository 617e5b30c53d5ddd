#include "gateway/SnppCredentials.h"

#include <QFile>
#include <QPasswordDigestor>
#include <QRandomGenerator>

namespace {

constexpr QLatin1StringView kScheme("pbkdf2-sha256");
constexpr int kSaltBytes = 16;
constexpr int kKeyBytes = 32;
// A hash file may ask for more work per check, never so much that a check stalls.
constexpr int kMostIterations = 10000000;

QByteArray derive(const QString& password, const QByteArray& salt, int iterations)
{
    return QPasswordDigestor::deriveKeyPbkdf2(
        QCryptographicHash::Sha256, password.toUtf8(), salt, iterations, kKeyBytes);
}

// Compares in a time that does not tell how much of the key was right.
bool sameKey(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace

QString CSnppCredentials::MakeLine(const QString& name, const QString& password)
{
    QByteArray salt(kSaltBytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(salt.begin(), salt.end());
    return QStringLiteral("%1:%2$%3$%4$%5")
        .arg(name, kScheme)
        .arg(kIterations)
        .arg(QString::fromLatin1(salt.toBase64()),
            QString::fromLatin1(derive(password, salt, kIterations).toBase64()));
}

QString CSnppCredentials::Load(const QString& filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("cannot read %1: %2").arg(filePath, file.errorString());
    m_hashes.clear();
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype colon = line.lastIndexOf(QLatin1Char(':'));
        const QStringList parts = line.mid(colon + 1).split(QLatin1Char('$'));
        bool counted = false;
        const int iterations = parts.value(1).toInt(&counted);
        if (colon <= 0 || parts.size() != 4 || parts[0] != kScheme || !counted || iterations < 1
            || iterations > kMostIterations)
            return QStringLiteral("%1 line %2 is not NAME:%3$ITERATIONS$SALT$KEY")
                .arg(filePath)
                .arg(number)
                .arg(kScheme);
        m_hashes.insert(line.left(colon), line.mid(colon + 1).toLatin1());
    }
    return {};
}

bool CSnppCredentials::Accepts(const QString& name, const QString& password) const
{
    const auto found = m_hashes.constFind(name);
    if (found == m_hashes.constEnd()) {
        // As long as a known name takes, so that the time does not tell which names are.
        derive(password, QByteArrayLiteral("not a name here"), kIterations);
        return false;
    }
    const QList<QByteArray> parts = found->split('$');
    const QByteArray key = QByteArray::fromBase64(parts[3]);
    return sameKey(derive(password, QByteArray::fromBase64(parts[2]), parts[1].toInt()), key);
}
