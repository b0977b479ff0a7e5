// POSIX only: mkdtemp, chown, fork and exec through spawnChild, waitpid.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "ChildSpawn.h"
#include "PostgresServer.h"

namespace vitalon::testing {

namespace {

namespace fs = std::filesystem;

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The last lines of a log, for a message.
std::string tailOf(const std::string& path) {
    std::string text = readAll(path);
    if (text.size() > 1500) {
        text = "..." + text.substr(text.size() - 1500);
    }
    return text;
}

// Whom the server runs as: nobody when we are root, else ourselves.
std::optional<passwd> unprivilegedUser() {
    if (geteuid() != 0) {
        return std::nullopt;
    }
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) {
        return std::nullopt;
    }
    return *nobody;
}

}  // namespace

std::string PostgresServer::programFolder() {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        const fs::path bin = entry.path() / "bin";
        if (fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl")) {
            found.push_back(bin);
        }
    }
    if (!found.empty()) {
        // The newest version: compare the folder names as numbers.
        std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
            return std::atoi(a.parent_path().filename().c_str()) <
                   std::atoi(b.parent_path().filename().c_str());
        });
        return found.back().string();
    }
    if (const char* path = std::getenv("PATH")) {
        std::istringstream folders(path);
        for (std::string folder; std::getline(folders, folder, ':');) {
            if (!folder.empty() && access((folder + "/initdb").c_str(), X_OK) == 0 &&
                access((folder + "/pg_ctl").c_str(), X_OK) == 0) {
                return folder;
            }
        }
    }
    return {};
}

PostgresServer::PostgresServer() : bin_(programFolder()) {
    if (bin_.empty()) {
        error_ = "PostgreSQL's initdb and pg_ctl are not installed";
        return;
    }
    char pattern[] = "/tmp/vitalon-pg-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        error_ = "cannot make a temporary folder for the server";
        return;
    }
    folder_ = pattern;
    const auto user = unprivilegedUser();
    if (geteuid() == 0 && !user) {
        error_ = "running as root, and there is no user \"nobody\" to run PostgreSQL as";
        return;
    }
    const std::string passwordFile = folder_ + "/password";
    std::ofstream(passwordFile) << kPassword << "\n";
    if (user && (chown(folder_.c_str(), user->pw_uid, user->pw_gid) != 0 ||
                 chown(passwordFile.c_str(), user->pw_uid, user->pw_gid) != 0)) {
        error_ = "cannot give the server's folder to user nobody";
        return;
    }
    const int status = run(bin_ + "/initdb",
                           {"-D", folder_ + "/data", "-U", kUser, "--pwfile=" + passwordFile,
                            "--auth=scram-sha-256", "--no-sync", "--no-locale", "-E", "UTF8"},
                           folder_ + "/initdb.log");
    if (status != 0) {
        error_ =
            "initdb failed (" + std::to_string(status) + "): " + tailOf(folder_ + "/initdb.log");
    }
}

PostgresServer::~PostgresServer() {
    if (running_) {
        stop();
    }
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}

int PostgresServer::run(const std::string& program, const std::vector<std::string>& args,
                        const std::string& logFile, bool withPassword) {
    const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    SpawnOptions options;
    options.stdoutFd = log;
    options.stderrFd = log;
    options.stdinFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (const auto user = unprivilegedUser()) {
        options.runAs = user->pw_uid;
    }
    options.env = {{"LC_ALL", "C"}, {"PGPASSWORD", withPassword ? kPassword : ""}};
    int status = -1;
    try {
        const pid_t pid = spawnChild(program, args, options);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    } catch (const std::exception&) {
        status = -1;
    }
    if (log >= 0) {
        close(log);
    }
    if (options.stdinFd >= 0) {
        close(options.stdinFd);
    }
    if (status < 0) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool PostgresServer::start() {
    if (!error_.empty() && !running_ && folder_.empty()) {
        return false;
    }
    const int status = run(
        bin_ + "/pg_ctl",
        {"-D", folder_ + "/data", "-l", folder_ + "/server.log", "-w", "-t", "60", "-o",
         "-k " + folder_ + " -c listen_addresses= -p " + std::to_string(kPort) + " -c fsync=off",
         "start"},
        folder_ + "/pg_ctl.log");
    if (status != 0) {
        error_ = "pg_ctl start failed (" + std::to_string(status) +
                 "): " + tailOf(folder_ + "/pg_ctl.log") + tailOf(folder_ + "/server.log");
        return false;
    }
    running_ = true;
    return true;
}

bool PostgresServer::stop() {
    const int status =
        run(bin_ + "/pg_ctl", {"-D", folder_ + "/data", "-m", "fast", "-w", "-t", "60", "stop"},
            folder_ + "/pg_ctl.log");
    if (status != 0) {
        error_ = "pg_ctl stop failed (" + std::to_string(status) +
                 "): " + tailOf(folder_ + "/pg_ctl.log");
        return false;
    }
    running_ = false;
    return true;
}

bool PostgresServer::createDatabase(const std::string& name) {
    const int status =
        run(bin_ + "/createdb", {"-h", folder_, "-p", std::to_string(kPort), "-U", kUser, name},
            folder_ + "/createdb.log", true);
    if (status != 0) {
        error_ = "createdb " + name + " failed: " + tailOf(folder_ + "/createdb.log");
        return false;
    }
    return true;
}

std::string PostgresServer::address(const std::string& database,
                                    const std::string& password) const {
    return std::string("postgresql://") + kUser + (password.empty() ? "" : ":" + password) + "@/" +
           database + "?host=" + folder_;
}

}  // namespace vitalon::testing
