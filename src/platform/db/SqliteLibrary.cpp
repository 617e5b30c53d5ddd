#include "platform/db/SqliteLibrary.h"

#include "platform/LogCategories.h"

#include <QSqlQuery>
#include <sqlite3.h>

bool SameSqliteLibrary(const QString& linkedSourceId, const QString& driverSourceId)
{
    return !driverSourceId.isEmpty() && driverSourceId == linkedSourceId;
}

bool DriverSharesLinkedSqlite(const QSqlDatabase& database)
{
    static const bool shared = [&database] {
        QSqlQuery query(database);
        const QString driver
            = query.exec(QStringLiteral("SELECT sqlite_source_id()")) && query.next()
            ? query.value(0).toString()
            : QString();
        const QString linked = QString::fromLatin1(sqlite3_sourceid());
        if (SameSqliteLibrary(linked, driver))
            return true;
        qCWarning(lcDatabase,
            "Qt's SQLite driver runs on SQLite \"%s\", not on the SQLite \"%s\" this program "
            "links: whole tables are read through the driver, which is slower.",
            qUtf8Printable(driver.isEmpty() ? QStringLiteral("(unknown)") : driver),
            qUtf8Printable(linked));
        return false;
    }();
    return shared;
}
