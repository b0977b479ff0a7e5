// End to end: the program, offscreen, fed through a pseudo-terminal, each case
// beside a bare QSerialPort reader fed the same stream in the same run. The
// program runs as vitalon-instrumented: vitalon's window and serial path with
// the benchmark recorder attached, which the shipped program does not carry.
//
//   vitalon-bench-e2e [--smoke] [--only=rates,flood,pulse,startup] [--seconds=N]
//                     [--rate=300|960] [--arrival=bytes|chunks|chunks1ms] [--attach=CMD]
//                     [--vitalon=PATH] [--repeat=N] [--work=DIR] [--xvfb]
//
// rates    300 and 960 B/s, one byte per write and 10 ms chunks: CPU, memory
// flood    96,000 B/s, one byte per write, 1 ms and 10 ms chunks: bytes decoded
//          against sent, event-loop lag, CPU
// pulse    a pulse report on the line until Label1 is painted with it
// startup  process start to the window's first paint
//
// --seconds overrides each case's length, --rate and --arrival pick cases,
// --repeat sets how many runs of each case of (a) and (b) the quietest is taken from.
// --attach="perf record -g -o FILE -p {pid}" runs a profiler beside each
// vitalon while it is fed. --vitalon measures another build of the
// instrumented program, for a before-and-after comparison. --xvfb runs both
// programs on a real X server (Xvfb, started for the run) instead of
// offscreen, so painting and the backing-store flush cost what they cost on a
// desktop.
#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "Harness.h"
#include "Streams.h"

namespace vitalon::bench {
namespace {

using namespace std::chrono_literals;

struct Options {
    bool smoke = false;
    double seconds = 0.0;  // overrides each case's length when set
    int repeat = 0;        // runs of each case of (a) and (b); 0: 2, or 1 with --smoke
    std::set<std::string> only;
    std::string work;
    double rate = 0.0;    // with "rates": only this rate
    std::string arrival;  // with "rates" and "flood": only "bytes" or "chunks"
    std::string attach;   // a command run beside each vitalon, {pid} replaced by its id
    std::string vitalon = VITALON_INSTRUMENTED_EXE;  // another build, with --vitalon
    bool xvfb = false;

    bool wants(const std::string& part) const { return only.empty() || only.count(part) > 0; }
};

Options options;
std::string logPath;
// Set in every measured program's environment: the X server with --xvfb.
std::vector<std::pair<std::string, std::string>> programEnv;

double caseSeconds(double full) {
    if (options.seconds > 0.0) {
        return options.seconds;
    }
    return options.smoke ? 1.0 : full;
}

// With two CPUs or more, the benchmark writes from CPU 0 and the programs run on CPU 1.
bool pinned = false;
int programCpu() {
    return pinned ? 1 : -1;
}

bool wantsRate(double rate) {
    return options.rate <= 0.0 || options.rate == rate;
}

const char* arrivalOption(Arrival arrival) {
    switch (arrival) {
        case Arrival::ByteWrites:
            return "bytes";
        case Arrival::Chunks1ms:
            return "chunks1ms";
        case Arrival::Chunks10ms:
            break;
    }
    return "chunks";
}

bool wantsArrival(Arrival arrival) {
    return options.arrival.empty() || options.arrival == arrivalOption(arrival);
}

std::string reportPath(const std::string& name) {
    return options.work + "/" + name + ".report";
}

// Waits until the program has the line open, then lets its start-up finish.
bool waitUntilListening(Child& child, const Line& line, std::chrono::milliseconds settle) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!child.hasOpen(line.path())) {
        if (!child.running() || std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(settle);
    return child.running();
}

struct RunResult {
    bool ok = false;
    double cpuPercent = 0.0;        // over all the seconds it was fed
    double cpuMedianPercent = 0.0;  // the median of those seconds
    std::vector<double> shares;     // the share of each of those seconds, in order
    double rssStart = 0.0;
    double rssEnd = 0.0;
    double rssMax = 0.0;
    double achievedRate = 0.0;  // bytes a second while it was fed
    double wakeupsPerSecond = 0.0;
    std::size_t sent = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> fedWindows;  // when it was fed
    std::vector<std::int64_t> markedWrites;  // when each marked byte was written
    Report report;                           // vitalon only
};

enum class Program { Bare, Vitalon };

// One program under test on its own line.
struct Runner {
    Program program = Program::Bare;
    std::string name;
    std::string report;
    std::unique_ptr<Line> line;
    std::unique_ptr<Child> child;
    std::unique_ptr<Child> attached;  // a profiler, with --attach
    std::size_t sent = 0;
    double cpuSeconds = 0.0;
    double wallSeconds = 0.0;
    double feedSeconds = 0.0;
    long wakeups = 0;
    std::vector<double> shares;  // CPU share of each round
    RunResult result;
};

// Starts the programs, each on a fresh line, and feeds each of them `bytes`
// at `rate` in the given arrival pattern, taking turns a second at a time.
// A round's CPU is counted from its first byte until the program's line is
// drained.
//
// On a virtual machine the host may hold a virtual CPU back for seconds, and
// the time is charged to whatever task was running on it: figures of a single
// program jumped from 1 % to 30 % for a few seconds at a time. Taking turns a
// second at a time exposes the programs to such spells alike, and the median
// second leaves them out. (Fed side by side instead, the program written to
// first was always the one to wake the idle CPU, and carried that cost.)
std::vector<RunResult> runPrograms(const std::vector<Program>& programs,
                                   const std::vector<std::uint8_t>& bytes, double rate,
                                   Arrival arrival, bool lagTimer,
                                   const std::vector<std::size_t>& marks, const std::string& name) {
    std::vector<Runner> runners;
    for (Program program : programs) {
        Runner r;
        r.program = program;
        r.name = name + (program == Program::Bare ? "-bare" : "");
        r.report = reportPath(r.name);
        std::filesystem::remove(r.report);
        r.line = std::make_unique<Line>();
        std::vector<std::string> args;
        std::string exe = VITALON_BARE_READER_EXE;
        if (program == Program::Vitalon) {
            exe = options.vitalon;
            args = {"--port", "COM1=" + r.line->path(), "--bench-report", r.report};
            if (lagTimer) {
                args.emplace_back("--bench-lag");
            }
        } else {
            args = {r.line->path()};
        }
        r.child = std::make_unique<Child>(exe, args, logPath, programCpu(), programEnv);
        runners.push_back(std::move(r));
    }
    std::vector<RunResult> results(runners.size());
    for (auto& r : runners) {
        if (!waitUntilListening(*r.child, *r.line, options.smoke ? 500ms : 1500ms)) {
            std::fprintf(stderr, "%s: the program did not open the line (see %s)\n", r.name.c_str(),
                         logPath.c_str());
            return results;
        }
        r.line->drainOutput();  // vitalon's start commands
        // A profiler attached to vitalon for the measured part only; SIGINT ends it.
        if (r.program == Program::Vitalon && !options.attach.empty()) {
            std::string command = options.attach;
            for (auto at = command.find("{pid}"); at != std::string::npos;
                 at = command.find("{pid}")) {
                command.replace(at, 5, std::to_string(r.child->pid()));
            }
            r.attached = std::make_unique<Child>(
                "/bin/sh", std::vector<std::string>{"-c", "exec " + command}, logPath);
            std::this_thread::sleep_for(500ms);
        }
        r.result.rssStart = r.child->residentMB();
        r.result.rssMax = r.result.rssStart;
    }

    const bool trace = std::getenv("VITALON_BENCH_TRACE") != nullptr;
    const auto perRound = static_cast<std::size_t>(rate);  // a second's worth
    std::size_t nextMark = 0;
    for (bool more = true; more;) {
        more = false;
        for (auto& r : runners) {
            if (r.sent >= bytes.size()) {
                continue;
            }
            const std::size_t from = r.sent;
            const std::size_t to = std::min(bytes.size(), from + perRound);
            const std::vector<std::uint8_t> slice(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                                  bytes.begin() + static_cast<std::ptrdiff_t>(to));
            std::vector<std::size_t> sliceMarks;  // marks go with a single program
            for (; runners.size() == 1 && nextMark < marks.size() && marks[nextMark] < to;
                 ++nextMark) {
                sliceMarks.push_back(marks[nextMark] - from);
            }
            const double cpu0 = r.child->cpuSeconds();
            const long sleeps0 = r.child->sleeps();
            const FeedResult fed = feed({r.line->masterFd()}, slice, rate, arrival, sliceMarks);
            // The program may still be working through what it received.
            const auto deadline = std::chrono::steady_clock::now() + 10s;
            while (r.line->unread() > 0 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(1ms);
            }
            const double cpu = r.child->cpuSeconds() - cpu0;
            r.wakeups += r.child->sleeps() - sleeps0;
            const double wall = static_cast<double>(monotonicNs() - fed.startNs) / 1e9;
            r.cpuSeconds += cpu;
            r.wallSeconds += wall;
            r.feedSeconds += static_cast<double>(fed.endNs - fed.startNs) / 1e9;
            r.shares.push_back(cpu / wall * 100.0);
            r.sent += fed.written;
            r.result.fedWindows.emplace_back(fed.startNs, fed.endNs);
            r.result.markedWrites.insert(r.result.markedWrites.end(), fed.markedWrites.begin(),
                                         fed.markedWrites.end());
            r.result.rssMax = std::max(r.result.rssMax, r.child->residentMB());
            r.line->drainOutput();
            if (trace) {
                std::fprintf(stderr, "%s %.2f%%\n", r.name.c_str(), r.shares.back());
            }
            more = more || r.sent < bytes.size();
        }
    }
    std::this_thread::sleep_for(200ms);  // the last read is decoded and painted

    for (std::size_t i = 0; i < runners.size(); ++i) {
        Runner& r = runners[i];
        if (r.attached) {
            r.attached->stop(SIGINT, 10s);
        }
        RunResult& out = results[i];
        out = std::move(r.result);
        out.rssEnd = r.child->residentMB();
        out.rssMax = std::max(out.rssMax, out.rssEnd);
        out.cpuPercent = r.wallSeconds > 0.0 ? r.cpuSeconds / r.wallSeconds * 100.0 : 0.0;
        out.cpuMedianPercent = percentile(r.shares, 50);
        out.shares = r.shares;
        out.sent = r.sent;
        out.wakeupsPerSecond =
            r.wallSeconds > 0.0 ? static_cast<double>(r.wakeups) / r.wallSeconds : 0.0;
        out.achievedRate = r.feedSeconds > 0.0 ? static_cast<double>(r.sent) / r.feedSeconds : 0.0;
        const int code = r.child->stop(SIGTERM, 5s);
        if (r.program == Program::Vitalon) {
            out.report = readReport(r.report);
            out.ok = code == 0 && out.report.found;
        } else {
            out.ok = code == 128 + SIGTERM;
        }
    }
    return results;
}

// The two programs of one run, with the seconds the host left alone.
//
// The host of a virtual machine may hold a virtual CPU back for seconds at a
// time and charge the wait to whatever ran on it: a reader that needs 0.6 %
// of a core then shows 5 to 30 % for a few seconds. The bare reader's cost is
// steady otherwise, so it serves as the gauge: a second of it that cost more
// than twice its lower quartile was disturbed, and so, most likely, was the
// vitalon second taken right after it. Those pairs are left out of the quiet
// figures. (Spells last several seconds; a vitalon second disturbed while its
// bare neighbour was not only makes vitalon look worse.)
struct Pair {
    std::vector<RunResult> both;  // bare reader, vitalon
    std::size_t seconds = 0;
    std::size_t quietSeconds = 0;
    double bareQuiet = 0.0;  // mean share over the quiet seconds, % of a core
    double appQuiet = 0.0;
};

Pair measurePair(std::vector<RunResult> both) {
    Pair p;
    const std::vector<double>& bare = both[0].shares;
    const std::vector<double>& app = both[1].shares;
    p.seconds = std::min(bare.size(), app.size());
    const double usual = percentile(
        std::vector<double>(bare.begin(), bare.begin() + static_cast<std::ptrdiff_t>(p.seconds)),
        25);
    double bareSum = 0.0;
    double appSum = 0.0;
    for (std::size_t i = 0; i < p.seconds; ++i) {
        if (bare[i] <= 2.0 * usual) {
            ++p.quietSeconds;
            bareSum += bare[i];
            appSum += app[i];
        }
    }
    if (p.quietSeconds > 0) {
        p.bareQuiet = bareSum / static_cast<double>(p.quietSeconds);
        p.appQuiet = appSum / static_cast<double>(p.quietSeconds);
    }
    p.both = std::move(both);
    return p;
}

// Runs the bare reader and vitalon on `bytes` --repeat times, taking turns a
// second at a time, and keeps the run in which the bare reader's quiet seconds
// cost least: a run disturbed throughout has no seconds quieter than the rest,
// but its level gives it away. The others are summed up in `others`, as
// "quiet ratio (quiet seconds)".
Pair quietestOf(const std::vector<std::uint8_t>& bytes, double rate, Arrival arrival, bool lagTimer,
                const std::string& name, std::string& others) {
    const int runs = options.repeat > 0 ? options.repeat : (options.smoke ? 1 : 2);
    std::vector<Pair> all;
    for (int run = 0; run < runs; ++run) {
        all.push_back(measurePair(runPrograms({Program::Bare, Program::Vitalon}, bytes, rate,
                                              arrival, lagTimer, {}, name)));
    }
    std::size_t best = 0;
    for (std::size_t i = 1; i < all.size(); ++i) {
        if (all[i].bareQuiet < all[best].bareQuiet) {
            best = i;
        }
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i != best) {
            char text[64];
            std::snprintf(text, sizeof text, " %.2fx (%zu/%zu s)",
                          all[i].bareQuiet > 0.0 ? all[i].appQuiet / all[i].bareQuiet : 0.0,
                          all[i].quietSeconds, all[i].seconds);
            others += text;
        }
    }
    return std::move(all[best]);
}

std::vector<std::uint8_t> streamFor(double rate, double seconds) {
    static const std::vector<std::uint8_t> module = moduleStream(120.0);
    return repeated(module, static_cast<std::size_t>(rate * seconds));
}

void rates() {
    const double seconds = caseSeconds(30.0);
    std::printf(
        "\n== (a) %g s per program, taking turns a second at a time, the least disturbed "
        "run of %d.\n   CPU: %% of one core over all its seconds [over the quiet "
        "ones]; wake/s: event-loop wake-ups a second; RSS: MB\n",
        seconds, options.repeat > 0 ? options.repeat : (options.smoke ? 1 : 2));
    std::printf("%-6s %-13s %-23s %-23s %-7s %-7s %-20s %s\n", "B/s", "arrival",
                "bare reader    wake/s", "vitalon        wake/s", "ratio", "quiet", "vitalon RSS",
                "decoded = sent");
    for (double rate : {300.0, 960.0}) {
        for (Arrival arrival : {Arrival::ByteWrites, Arrival::Chunks10ms}) {
            if (!wantsRate(rate) || !wantsArrival(arrival)) {
                continue;
            }
            const auto bytes = streamFor(rate, seconds);
            const std::string name = "rates-" + std::to_string(static_cast<int>(rate)) +
                                     (arrival == Arrival::ByteWrites ? "-bytes" : "-chunks");
            std::string others;
            const Pair pair = quietestOf(bytes, rate, arrival, false, name, others);
            const RunResult& bare = pair.both[0];
            const RunResult& app = pair.both[1];
            std::printf(
                "%-6.0f %-13s %5.2f%% [%5.2f] %5.0f  %5.2f%% [%5.2f] %5.0f  %5.2fx %2zu/%-2zu  "
                "%4.1f -> %4.1f max %4.1f  %s%s%s\n",
                rate, arrivalName(arrival), bare.cpuPercent, pair.bareQuiet, bare.wakeupsPerSecond,
                app.cpuPercent, pair.appQuiet, app.wakeupsPerSecond,
                pair.bareQuiet > 0.0 ? pair.appQuiet / pair.bareQuiet : 0.0, pair.quietSeconds,
                pair.seconds, app.rssStart, app.rssEnd, app.rssMax,
                !app.ok                          ? "no report"
                : app.report.decoded == app.sent ? "yes"
                                                 : "NO",
                others.empty() ? "" : "   other runs:", others.c_str());
            std::fflush(stdout);
        }
    }
}

void flood() {
    const double rate = 96000.0;
    const double seconds = caseSeconds(20.0);
    std::printf(
        "\n== (b) %g B/s for %g s per program, taking turns, chosen and shown as in (a); "
        "lag: lateness of vitalon's 10 ms timer while fed\n",
        rate, seconds);
    std::printf("%-13s %9s %9s %9s %9s %9s %9s %-16s %-16s %-7s %s\n", "arrival", "sent", "decoded",
                "B/s sent", "lag p50", "lag p99", "lag max", "bare reader", "vitalon", "quiet",
                "vitalon RSS");
    for (Arrival arrival : {Arrival::ByteWrites, Arrival::Chunks1ms, Arrival::Chunks10ms}) {
        if (!wantsArrival(arrival)) {
            continue;
        }
        const auto bytes = streamFor(rate, seconds);
        const std::string name = std::string("flood-") + arrivalOption(arrival);
        std::string others;
        const Pair pair = quietestOf(bytes, rate, arrival, true, name, others);
        const RunResult& bare = pair.both[0];
        const RunResult& app = pair.both[1];
        // Lag while the bytes came, as the 10 ms timer inside vitalon saw it.
        std::vector<double> lag;
        for (const auto& [ns, us] : app.report.lagUs) {
            for (const auto& [from, to] : app.fedWindows) {
                if (ns >= from && ns <= to) {
                    lag.push_back(us / 1000.0);
                    break;
                }
            }
        }
        std::printf(
            "%-13s %9zu %9llu %9.0f %7.2fms %7.2fms %7.2fms %5.2f%% [%5.2f] %5.2f%% [%5.2f] "
            "%2zu/%-2zu  %4.1f -> %4.1f%s%s\n",
            arrivalName(arrival), app.sent, static_cast<unsigned long long>(app.report.decoded),
            app.achievedRate, percentile(lag, 50), percentile(lag, 99), percentile(lag, 100),
            bare.cpuPercent, pair.bareQuiet, app.cpuPercent, pair.appQuiet, pair.quietSeconds,
            pair.seconds, app.rssStart, app.rssEnd,
            others.empty() ? "" : "   other runs:", others.c_str());
        if (!app.ok || app.report.decoded != app.sent) {
            std::printf("  !! bytes were lost or the report is missing\n");
        }
        std::fflush(stdout);
    }
}

void pulse() {
    const int reports = options.smoke ? 10 : 200;
    const double rate = 960.0;
    const std::size_t spacing = 96;  // a report every 100 ms
    std::printf(
        "\n== (c) pulse report to Label1: %d reports, 100 ms apart, in a %g B/s stream "
        "(1 B/write)\n",
        reports, rate);

    // The module's stream without its own pulse reports, with ours put in
    // where no marker waits for its value.
    static const std::vector<std::uint8_t> background = withoutPulseReports(moduleStream(120.0));
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> marks;
    std::vector<std::string> values;
    bool pending = false;
    for (std::size_t i = 0; static_cast<int>(values.size()) < reports || i % spacing != 0; ++i) {
        if (static_cast<int>(values.size()) < reports &&
            bytes.size() >= (values.size() + 1) * spacing && !pending) {
            const auto value = static_cast<std::uint8_t>(20 + values.size());  // all different
            bytes.push_back(250);
            bytes.push_back(value);
            marks.push_back(bytes.size() - 1);
            values.push_back(std::to_string(value));
        }
        const std::uint8_t b = background[i % background.size()];
        bytes.push_back(b);
        pending = b >= 249 && b <= 251;
    }

    const RunResult app =
        runPrograms({Program::Vitalon}, bytes, rate, Arrival::ByteWrites, false, marks, "pulse")
            .front();
    std::vector<double> latency;
    std::size_t next = 0;
    int missed = 0;
    for (std::size_t k = 0; k < app.markedWrites.size() && k < values.size(); ++k) {
        const std::int64_t written = app.markedWrites[k];
        bool seen = false;
        for (std::size_t j = next; j < app.report.label1.size(); ++j) {
            if (app.report.label1[j].first >= written && app.report.label1[j].second == values[k]) {
                latency.push_back(static_cast<double>(app.report.label1[j].first - written) / 1e6);
                next = j + 1;
                seen = true;
                break;
            }
        }
        missed += seen ? 0 : 1;
    }
    std::printf(
        "write of the value byte to Label1 painted: p50 %.2f ms, p99 %.2f ms, max %.2f ms "
        "(%zu seen, %d not seen)\n",
        percentile(latency, 50), percentile(latency, 99), percentile(latency, 100), latency.size(),
        missed);
}

void startup() {
    const int runs = options.smoke ? 2 : 10;
    std::printf("\n== (d) start-up: process start to the window's first paint, %d runs each\n",
                runs);
    for (int config = 0; config < 2; ++config) {
        std::vector<double> times;
        for (int run = 0; run < runs; ++run) {
            Line line;
            const std::string report = reportPath("startup");
            std::filesystem::remove(report);
            std::vector<std::string> args = {"--bench-report", report};
            if (config == 0) {
                for (int n = 1; n <= 8; ++n) {
                    args.push_back("--port");
                    args.push_back("COM" + std::to_string(n) + "=/nonexistent/ttyBench" +
                                   std::to_string(n));
                }
            } else {
                args.push_back("--port");
                args.push_back("COM1=" + line.path());
            }
            Child child(options.vitalon, args, logPath, programCpu(), programEnv);
            std::this_thread::sleep_for(options.smoke ? 1000ms : 1500ms);
            child.stop(SIGTERM, 5s);
            const Report r = readReport(report);
            if (r.shownNs >= 0) {
                times.push_back(static_cast<double>(r.shownNs - child.spawnedNs()) / 1e6);
            }
        }
        std::printf("%-40s median %7.1f ms   min %7.1f   max %7.1f   (%zu of %d shown)\n",
                    config == 0 ? "eight ports, no device opens" : "one pseudo-terminal on COM1",
                    percentile(times, 50), percentile(times, 0), percentile(times, 100),
                    times.size(), runs);
    }
}

// Starts an X server of its own for the run, on the first free display from
// :90 on, and points the measured programs at it. Null, said on stderr, when
// Xvfb is missing or does not come up.
std::unique_ptr<Child> startXvfb() {
    const std::string xvfb = "/usr/bin/Xvfb";
    if (access(xvfb.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "--xvfb needs Xvfb: scripts/install-deps xvfb\n");
        return nullptr;
    }
    int display = 90;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display))) {
        ++display;
    }
    const std::string name = ":" + std::to_string(display);
    auto server = std::make_unique<Child>(
        xvfb, std::vector<std::string>{name, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
        logPath);
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(socket)) {
        if (!server->running() || std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "Xvfb did not start on %s; see %s\n", name.c_str(),
                         logPath.c_str());
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    programEnv = {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", name}};
    return server;
}

}  // namespace
}  // namespace vitalon::bench

int main(int argc, char** argv) {
    using namespace vitalon::bench;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--smoke") {
            options.smoke = true;
        } else if (arg.rfind("--only=", 0) == 0) {
            std::string list = arg.substr(7);
            std::size_t start = 0;
            while (start <= list.size()) {
                const std::size_t comma = std::min(list.find(',', start), list.size());
                options.only.insert(list.substr(start, comma - start));
                start = comma + 1;
            }
        } else if (arg.rfind("--seconds=", 0) == 0) {
            options.seconds = std::atof(arg.c_str() + 10);
        } else if (arg.rfind("--repeat=", 0) == 0) {
            options.repeat = std::atoi(arg.c_str() + 9);
        } else if (arg.rfind("--rate=", 0) == 0) {
            options.rate = std::atof(arg.c_str() + 7);
        } else if (arg.rfind("--arrival=", 0) == 0) {
            options.arrival = arg.substr(10);
        } else if (arg.rfind("--vitalon=", 0) == 0) {
            options.vitalon = arg.substr(10);
        } else if (arg.rfind("--attach=", 0) == 0) {
            options.attach = arg.substr(9);
        } else if (arg.rfind("--work=", 0) == 0) {
            options.work = arg.substr(7);
        } else if (arg == "--xvfb") {
            options.xvfb = true;
        } else {
            std::fprintf(
                stderr,
                "usage: %s [--smoke] [--only=rates,flood,pulse,startup] [--seconds=N]\n"
                "       [--rate=300|960] [--arrival=bytes|chunks|chunks1ms] [--attach=CMD]\n"
                "       [--vitalon=PATH]\n"
                "       [--repeat=N]\n"
                "       [--work=DIR] [--xvfb]\n",
                argv[0]);
            return 2;
        }
    }
    if (options.work.empty()) {
        char dir[] = "/tmp/vitalon-bench-XXXXXX";
        options.work = mkdtemp(dir);
    }
    std::filesystem::create_directories(options.work);
    logPath = options.work + "/programs.log";
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<Child> xserver;
    if (options.xvfb) {
        xserver = startXvfb();
        if (!xserver) {
            return 1;
        }
    }
    pinned = pinToCpu(0, 0);
    std::printf("vitalon end to end%s%s; program output in %s; %s\n",
                options.smoke ? " (smoke)" : "", options.xvfb ? " under Xvfb" : " offscreen",
                logPath.c_str(), pinned ? "writer on CPU 0, programs on CPU 1" : "not pinned");
    if (options.wants("rates")) {
        rates();
    }
    if (options.wants("flood")) {
        flood();
    }
    if (options.wants("pulse")) {
        pulse();
    }
    if (options.wants("startup")) {
        startup();
    }
    return 0;
}
