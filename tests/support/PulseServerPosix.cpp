#include "PulseServer.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace vitalon::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::vector<std::string> currentEnv(const std::vector<std::pair<std::string, std::string>>& set) {
    std::vector<std::string> out;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        bool replaced = false;
        for (const auto& [name, value] : set) {
            replaced = replaced || entry.rfind(name + "=", 0) == 0;
        }
        if (!replaced) {
            out.push_back(entry);
        }
    }
    for (const auto& [name, value] : set) {
        out.push_back(name + "=" + value);
    }
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

// Starts `args` with `env` added; its standard output goes to `outFd` (or is
// discarded) and its standard error to `errPath` (or is discarded).
pid_t spawn(std::vector<std::string> args,
            const std::vector<std::pair<std::string, std::string>>& env, int outFd,
            const std::string& errPath) {
    std::vector<std::string> envStrings = currentEnv(env);
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(envStrings);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO,
                                     errPath.empty() ? "/dev/null" : errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    }
    return pid;
}

int waitExit(pid_t pid, std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(5ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t at = 0;
    while (at <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', at), dirs.size());
        if (access((dirs.substr(at, end - at) + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
        at = end + 1;
    }
    return false;
}

}  // namespace

bool PulseServer::available() {
    return onPath("pulseaudio") && onPath("parec") && onPath("pactl");
}

PulseServer::PulseServer() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vitalon-pulse-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create the sound server's directory");
    }
    dir_ = pattern;
    // Clients read this instead of the user's configuration: never start a server of their own.
    std::ofstream(dir_ + "/client.conf") << "autospawn = no\n";
    start();
}

PulseServer::~PulseServer() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::pair<std::string, std::string>> PulseServer::clientEnv() const {
    return {{"PULSE_SERVER", "unix:" + dir_ + "/native"},
            {"PULSE_CLIENTCONFIG", dir_ + "/client.conf"},
            {"PULSE_SINK", kSinkName}};
}

void PulseServer::useInThisProcess() const {
    for (const auto& [name, value] : clientEnv()) {
        setenv(name.c_str(), value.c_str(), 1);
    }
}

void PulseServer::start() {
    if (pid_ > 0) {
        return;
    }
    // -n: no default configuration, only the two modules named here. The
    // server refuses nothing for running as root (CI does); it only warns.
    const std::vector<std::string> args{
        "pulseaudio",
        "-n",
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--use-pid-file=no",
        "--system=no",
        "--log-target=stderr",
        "-L",
        std::string("module-null-sink sink_name=") + kSinkName + " rate=48000 channels=1",
        "-L",
        "module-native-protocol-unix auth-anonymous=1 socket=" + dir_ + "/native"};
    std::filesystem::remove(dir_ + "/native");
    pid_ = spawn(args, {{"XDG_RUNTIME_DIR", dir_}, {"HOME", dir_}, {"PULSE_STATE_PATH", dir_}}, -1,
                 dir_ + "/server.log");
    sinkModule_.clear();
    waitUntilAnswering();
}

void PulseServer::stop() {
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    waitExit(pid_, 5s);
    pid_ = -1;
}

void PulseServer::waitUntilAnswering() {
    const auto until = Clock::now() + 20s;
    while (Clock::now() < until) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            std::ifstream log(dir_ + "/server.log");
            throw std::runtime_error("the sound server ended at start:\n" +
                                     std::string(std::istreambuf_iterator<char>(log), {}));
        }
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = dir_ + "/native";
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        const bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (up) {
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
    throw std::runtime_error("the sound server did not answer within 20 s");
}

std::string PulseServer::pactl(const std::vector<std::string>& args) const {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> command{"pactl"};
    command.insert(command.end(), args.begin(), args.end());
    const pid_t pid = spawn(command, clientEnv(), pipeFds[1], {});
    close(pipeFds[1]);
    std::string out;
    char buffer[256];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    if (waitExit(pid, 10s) != 0) {
        throw std::runtime_error("pactl failed");
    }
    return out;
}

int PulseServer::playbackStreams() const {
    const std::string list = pactl({"list", "short", "sink-inputs"});
    return static_cast<int>(std::count(list.begin(), list.end(), '\n'));
}

bool PulseServer::waitForPlaybackStreams(int count, std::chrono::milliseconds timeout) const {
    const auto until = Clock::now() + timeout;
    while (playbackStreams() < count) {
        if (Clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

void PulseServer::removeSink() {
    if (sinkModule_.empty()) {
        // The module loaded at start: the only null sink there is.
        const std::string modules = pactl({"list", "short", "modules"});
        const auto at = modules.find("module-null-sink");
        const auto lineStart = modules.rfind('\n', at);
        sinkModule_ = modules.substr(lineStart == std::string::npos ? 0 : lineStart + 1);
        sinkModule_ = sinkModule_.substr(0, sinkModule_.find('\t'));
    }
    pactl({"unload-module", sinkModule_});
}

void PulseServer::addSink() {
    std::string id = pactl({"load-module", "module-null-sink",
                            std::string("sink_name=") + kSinkName, "rate=48000", "channels=1"});
    while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) {
        id.pop_back();
    }
    sinkModule_ = id;
    pactl({"set-default-sink", kSinkName});
}

MonitorRecording::MonitorRecording(const PulseServer& server) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    // A short latency: the monitor then loses at most a millisecond or two
    // where the server rewinds the sink to start a stream at once.
    pid_ = spawn({"parec", "--raw", "--rate=48000", "--channels=1", "--format=s16le",
                  "--latency-msec=2", "-d", std::string(PulseServer::kSinkName) + ".monitor"},
                 server.clientEnv(), pipeFds[1], {});
    close(pipeFds[1]);
    fd_ = pipeFds[0];
    reader_ = std::thread([this] { readLoop(); });
}

MonitorRecording::~MonitorRecording() {
    stop_ = true;
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitExit(pid_, 5s);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    if (fd_ >= 0) {
        close(fd_);
    }
}

void MonitorRecording::readLoop() {
    std::vector<char> buffer(65536);
    std::size_t carry = 0;  // a half sample left from the last read
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            continue;
        }
        const ssize_t n = read(fd_, buffer.data() + carry, buffer.size() - carry);
        const auto now = Clock::now();
        if (n <= 0) {
            break;
        }
        const std::size_t bytes = carry + static_cast<std::size_t>(n);
        const std::size_t count = bytes / 2;
        std::lock_guard lock(mutex_);
        const std::size_t before = samples_.size();
        samples_.resize(before + count);
        std::memcpy(samples_.data() + before, buffer.data(), count * 2);
        carry = bytes % 2;
        if (carry != 0) {
            buffer[0] = buffer[bytes - 1];
        }
        reads_.emplace_back(samples_.size(), now);
    }
}

bool MonitorRecording::waitUntilRecording(std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    const std::size_t start = size();
    while (size() < start + PulseServer::kRate / 10) {
        if (Clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::vector<std::int16_t> MonitorRecording::samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
}

std::size_t MonitorRecording::size() const {
    std::lock_guard lock(mutex_);
    return samples_.size();
}

Clock::time_point MonitorRecording::timeOf(std::size_t index) const {
    std::lock_guard lock(mutex_);
    const auto later = [](std::size_t samples) {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(samples) / PulseServer::kRate));
    };
    auto read = std::lower_bound(reads_.begin(), reads_.end(), index,
                                 [](const auto& r, std::size_t i) { return r.first <= i; });
    Clock::time_point best = Clock::time_point::max();
    for (; read != reads_.end() && read->first <= index + PulseServer::kRate / 10; ++read) {
        best = std::min(best, read->second - later(read->first - index));
    }
    if (best == Clock::time_point::max() && !reads_.empty()) {
        best = reads_.back().second + later(index - reads_.back().first);  // not read yet
    }
    return best;
}

}  // namespace vitalon::testing
