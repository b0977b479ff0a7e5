// POSIX only: fork and exec.
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <map>
#include <stdexcept>

#include "ChildSpawn.h"

extern char** environ;

namespace vitalon::testing {

pid_t spawnChild(const std::string& program, const std::vector<std::string>& args,
                 const SpawnOptions& options) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) {
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    env["QT_QPA_PLATFORM"] = "offscreen";
    for (const auto& [name, value] : options.env) {
        env[name] = value;
    }
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : env) {
        envStrings.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const std::string cannotStart = "cannot start " + program + "\n";
    const bool dropUser = options.runAs.has_value();
    const uid_t uid = options.runAs.value_or(0);
    const int redirect[3] = {options.stdinFd, options.stdoutFd, options.stderrFd};

    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid > 0) {
        return pid;
    }
    for (int target = 0; target < 3; ++target) {
        if (redirect[target] >= 0 && redirect[target] != target) {
            dup2(redirect[target], target);
        }
    }
    closefrom(3);  // nothing else of the parent's leaks in
    if (dropUser &&
        (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(uid)) != 0 || setuid(uid) != 0)) {
        _exit(126);
    }
    execve(program.c_str(), argv.data(), envp.data());
    // Said where the test reads it: a user without access to the build
    // directory is the usual cause.
    const ssize_t ignored = write(STDERR_FILENO, cannotStart.data(), cannotStart.size());
    (void)ignored;
    _exit(127);
}

namespace {

// An unnamed file that a child writes and the parent reads back from its start.
int scratchFile() {
    char name[] = "/tmp/vitalon-run-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) {
        unlink(name);
    }
    return fd;
}

std::string readBack(int fd) {
    std::string text;
    if (fd < 0 || lseek(fd, 0, SEEK_SET) < 0) {
        return text;
    }
    char buffer[4096];
    for (ssize_t n = 0; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

}  // namespace

FinishedRun runToEnd(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::pair<std::string, std::string>>& env) {
    FinishedRun run;
    SpawnOptions options;
    options.env = env;
    options.stdinFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    options.stdoutFd = scratchFile();
    options.stderrFd = scratchFile();
    if (options.stdinFd >= 0 && options.stdoutFd >= 0 && options.stderrFd >= 0) {
        const pid_t pid = spawnChild(program, args, options);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = readBack(options.stdoutFd);
        run.err = readBack(options.stderrFd);
    } else {
        run.err = "cannot prepare the standard streams of " + program;
    }
    for (const int fd : {options.stdinFd, options.stdoutFd, options.stderrFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    return run;
}

}  // namespace vitalon::testing
