#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "DatabaseAddress.h"
#include "PostgresServer.h"
#include "SqlResultsStore.h"

namespace vitalon::testing {

// Why the PostgreSQL tests cannot run here: empty when they can. Only a
// missing installation skips them; a server that fails to start fails them.
inline std::string postgresMissing() {
    if (PostgresServer::programFolder().empty()) {
        return "PostgreSQL is not installed (no initdb and pg_ctl under /usr/lib/postgresql "
               "or on the path): the PostgreSQL tests are skipped";
    }
    return {};
}

// One server for the whole suite, started on first use, stopped at exit.
inline PostgresServer& sharedPostgres() {
    static const std::unique_ptr<PostgresServer> server = [] {
        auto made = std::make_unique<PostgresServer>();
        if (made->error().empty()) {
            made->start();
        }
        return made;
    }();
    return *server;
}

// A new, empty database on the shared server; its address, or empty after
// adding a failure.
inline std::string freshPostgresDatabase(PostgresServer& server) {
    static std::atomic<int> next{0};
    if (!server.running()) {
        ADD_FAILURE() << "the test PostgreSQL server is not running: " << server.error();
        return {};
    }
    const std::string name =
        "results_" + std::to_string(getpid()) + "_" + std::to_string(next.fetch_add(1));
    if (!server.createDatabase(name)) {
        ADD_FAILURE() << server.error();
        return {};
    }
    return server.address(name);
}

inline results::ServerAddress serverAddressOf(const std::string& text) {
    const results::ParsedAddress parsed = results::parseServerAddress(text);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    return parsed.address;
}

// Runs SQL on a server database through a connection of its own.
inline void execOnServer(const std::string& address, const QStringList& statements) {
    const results::ServerAddress at = serverAddressOf(address);
    const QString name = QStringLiteral("test-direct-pg");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(QString::fromStdString(at.host));
        db.setPort(at.port);
        db.setUserName(QString::fromStdString(at.user));
        db.setPassword(QString::fromStdString(at.password));
        db.setDatabaseName(QString::fromStdString(at.database));
        ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
        QSqlQuery query(db);
        for (const QString& statement : statements) {
            ASSERT_TRUE(query.exec(statement))
                << statement.toStdString() << ": " << query.lastError().text().toStdString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

}  // namespace vitalon::testing
