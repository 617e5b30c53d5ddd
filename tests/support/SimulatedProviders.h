#pragma once

#include "SimulatedLine.h"
#include "TempDatabase.h"
#include "TempSettings.h"

#include <QVariantList>
#include <memory>
#include <vector>

// A desk's surroundings for sends through the real scheduler: temporary settings and
// database, and simulated providers on TCP, each reached through the one tcp line device.
// The simulators go first, then the database, then the settings.
struct SimulatedProviders
{
    TempSettings settings;
    TempDatabase db;
    std::vector<std::unique_ptr<quillpost::sim::PagingSimulator>> sims;

    // A new provider "P<n>" behind a simulator of its own; its ID.
    int Provider(const quillpost::sim::SimConfig& config = {})
    {
        sims.push_back(std::make_unique<quillpost::sim::PagingSimulator>(config));
        const QString number = StartSimulatedLine(*sims.back(), true);
        return db.addProvider(QStringLiteral("P%1").arg(sims.size()), number, 1);
    }
    // A message of its own (the user's name unless `text` is given) to a new user of the
    // provider, failed `retries` times before; its one row.
    int Queue(int providerId, const QString& user, const QString& text = {}, int retries = 0)
    {
        const int row
            = db.addMessageRow(db.addUser(user, QString::number(1000 + providerId), providerId), 0,
                text.isEmpty() ? user : text);
        db.exec("UPDATE Messages SET MessageId = ID, Retries = ? WHERE ID = ?", { retries, row });
        return row;
    }
    // "Status/Retries" of a row.
    QString Status(int row) const
    {
        return db.scalar("SELECT Status || '/' || Retries FROM Messages WHERE ID = ?", { row })
            .toString();
    }
};
