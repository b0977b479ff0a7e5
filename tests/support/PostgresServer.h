#pragma once

// POSIX only (see PostgresServerPosix.cpp): a private PostgreSQL server for the
// tests, in a temporary folder, reached only through a Unix socket there.

#include <string>
#include <vector>

namespace vitalon::testing {

class PostgresServer {
public:
    static constexpr const char* kUser = "vitalon";
    static constexpr const char* kPassword = "fixture-pw-7c1d";
    static constexpr int kPort = 5432;  // names the socket file; no TCP port is opened

    // The folder holding initdb and pg_ctl (Debian keeps them under
    // /usr/lib/postgresql/VERSION/bin, off the path); empty when PostgreSQL is
    // not installed.
    static std::string programFolder();

    // Makes a new database cluster with one user, kUser, who logs in with
    // kPassword; when the tests run as root, everything runs as "nobody"
    // (PostgreSQL refuses root), in a folder that user owns. error() says
    // what failed.
    PostgresServer();
    // Stops the server and removes its folder.
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Start and stop wait until the server is up or down; false with error()
    // set when it did not get there.
    bool start();
    bool stop();
    bool createDatabase(const std::string& name);

    bool running() const { return running_; }
    const std::string& error() const { return error_; }
    const std::string& socketFolder() const { return folder_; }
    // postgresql://vitalon:PASSWORD@/DATABASE?host=FOLDER
    std::string address(const std::string& database, const std::string& password = kPassword) const;

private:
    int run(const std::string& program, const std::vector<std::string>& args,
            const std::string& logFile, bool withPassword = false);

    std::string bin_;
    std::string folder_;
    std::string error_;
    bool running_ = false;
};

}  // namespace vitalon::testing
