// The main window against the faults of a bench, in-process, where the checks
// need the program's insides: the decoder's state after every receive event,
// the watchdog's labels, the port's close count and the event loop's latency.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "EventLoopWait.h"
#include "GraphWidget.h"
#include "MainWindow.h"
#include "PtyPair.h"
#include "ReferenceDecoder.h"
#include "StartCommands.h"

namespace vitalon {
namespace {

using testing::waitFor;

using testing::PtyPair;

const std::string kStart = testing::startCommandBytes();

// The start commands, read while the event loop runs (the port writes asynchronously).
bool startCommandsArrive(PtyPair& pty) {
    std::string got;
    waitFor(
        [&] {
            const auto bytes = pty.read(kStart.size() - got.size(), std::chrono::milliseconds(1));
            got.append(bytes.begin(), bytes.end());
            return got.size() >= kStart.size();
        },
        10000);
    return got == kStart;
}

PortAssignment devices(const std::vector<std::string>& paths) {
    PortAssignment ports;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        ports[i] = PortDevice{paths[i], {}};
    }
    return ports;
}

std::string text(const QLabel* l) {
    return l->text().toStdString();
}

// Follows the program's receive events. Before each receive event it notes
// how many bytes wait, afterwards what the program shows; mismatch() then
// replays the sent stream through the reference decoder and checks that after
// every event the decoder's state, the values shown and the trace's pen are
// exactly what decoding that many bytes gives: nothing lost, doubled or
// reordered, and the decoder in one of its four states. The replay comes
// afterwards so that the watching adds next to nothing to each event.
class StreamFollower : public ChunkListener {
public:
    StreamFollower(MainWindow& form, const std::vector<std::uint8_t>& sent)
        : form_(form),
          sent_(sent),
          sweep_(static_cast<int>(form.layout().graph->areaWidth()) + 1),
          serial_(form.link().findChild<QSerialPort*>()) {
        form_.station().linkController().addChunkListener(*this);  // after the decoder
    }
    ~StreamFollower() override { form_.station().linkController().removeChunkListener(*this); }

    void onChunk(ArrivalTime, std::span<const std::uint8_t> bytes) override { note(bytes.size()); }

    std::size_t consumed() const { return consumed_; }
    std::size_t events() const { return seen_.size(); }
    std::size_t largestRead() const { return largest_; }

    // Empty when every event so far matches the reference; otherwise the first difference.
    std::string mismatch() {
        for (; checked_ < seen_.size(); ++checked_) {
            const Seen& seen = seen_[checked_];
            if (seen.consumed > sent_.size()) {
                return "more bytes arrived than were sent";
            }
            for (; replayed_ < seen.consumed; ++replayed_) {
                replay(sent_[replayed_]);
            }
            Seen expected{seen.consumed,
                          reference_.state == reference_.Pulse,
                          reference_.state == reference_.Resp,
                          reference_.state == reference_.Status,
                          pulse_,
                          resp_,
                          status_,
                          static_cast<int>(samples_ % static_cast<std::size_t>(sweep_)),
                          samples_ == 0 ? seen.lastY : 256 - lastSample_,
                          0};
            if (!(seen == expected)) {
                return "after " + std::to_string(seen.consumed) + " bytes (event " +
                       std::to_string(checked_ + 1) + "): program " + seen.text() + ", reference " +
                       expected.text();
            }
        }
        return {};
    }

private:
    struct Seen {
        std::size_t consumed;
        bool pulse, resp, status;  // the pending flags
        int pulseRate, respRate, statusCode;
        int plotX, lastY;
        int left;  // bytes still waiting after the event
        bool operator==(const Seen&) const = default;
        std::string text() const {
            return "flags " + std::to_string(pulse) + std::to_string(resp) +
                   std::to_string(status) + " pulse " + std::to_string(pulseRate) + " resp " +
                   std::to_string(respRate) + " status " + std::to_string(statusCode) + " x " +
                   std::to_string(plotX) + " lastY " + std::to_string(lastY) + " left " +
                   std::to_string(left);
        }
    };

    void note(std::size_t n) {
        consumed_ += n;
        largest_ = std::max(largest_, n);
        const StreamDecoder& d = form_.station().decoder();
        const auto& v = form_.station().vitals();
        const auto& pen = form_.station().trace().pen();
        seen_.push_back({consumed_, d.expectsPulse(), d.expectsRespiration(), d.expectsStatus(),
                         v.pulseRate, v.respirationRate, v.statusCode, pen.x, pen.lastY,
                         static_cast<int>(serial_->bytesAvailable())});
    }

    void replay(std::uint8_t b) {
        calls_.clear();
        reference_.step(b, calls_);
        for (const std::string& c : calls_) {
            const auto space = c.find(' ');
            if (space == std::string::npos) {
                continue;  // "reset": the watchdog restart shows in no value
            }
            const std::string kind = c.substr(0, space);
            const int value = std::stoi(c.substr(space + 1));
            if (kind == "plot") {
                ++samples_;
                lastSample_ = value;
            } else if (kind == "pulse") {
                pulse_ = value;
            } else if (kind == "resp") {
                resp_ = value;
            } else {
                status_ = value;
            }
        }
    }

    MainWindow& form_;
    const std::vector<std::uint8_t>& sent_;
    const int sweep_;  // the pen's columns 0..W: W + 1 samples a sweep
    QSerialPort* serial_;
    std::size_t consumed_ = 0;
    std::size_t largest_ = 0;
    std::vector<Seen> seen_;

    // The replay.
    testing::ReferenceDecoder reference_;
    std::vector<std::string> calls_;
    std::size_t checked_ = 0;
    std::size_t replayed_ = 0;
    std::size_t samples_ = 0;
    int lastSample_ = 0;
    int pulse_ = 0;
    int resp_ = 0;
    int status_ = 0;
};

// Writes `bytes` to the module's side in 16 KB bursts from a thread of its own,
// as fast as the line takes them, while the test's thread runs the event loop.
class FloodWriter {
public:
    FloodWriter(int fd, const std::vector<std::uint8_t>& bytes)
        : thread_([this, fd, &bytes] {
              std::size_t at = 0;
              while (at < bytes.size() && !stop_) {
                  const std::size_t n = std::min<std::size_t>(16384, bytes.size() - at);
                  const ssize_t w = ::write(fd, bytes.data() + at, n);
                  if (w > 0) {
                      at += static_cast<std::size_t>(w);
                      written_ = at;
                  } else if (w < 0 && errno == EAGAIN) {
                      pollfd p{fd, POLLOUT, 0};
                      poll(&p, 1, 50);
                  } else {
                      break;
                  }
              }
          }) {}
    ~FloodWriter() {
        stop_ = true;
        thread_.join();
    }
    std::size_t written() const { return written_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> written_{0};
    std::thread thread_;
};

// A module-like stream with every report numbered, so order shows in the values.
std::vector<std::uint8_t> numberedStream(std::size_t size) {
    std::vector<std::uint8_t> out;
    out.reserve(size);
    for (std::uint32_t i = 0; out.size() < size; ++i) {
        if (i % 37 == 0) {
            const auto n = static_cast<std::uint8_t>(i / 37 % 248);
            out.insert(out.end(), {250, n, 249, static_cast<std::uint8_t>(247 - n), 251,
                                   static_cast<std::uint8_t>(n % 2 == 0 ? 0 : 17)});
        }
        out.push_back(static_cast<std::uint8_t>((i * 13) % 248));
    }
    out.resize(size);
    return out;
}

// Counts the closes of the QSerialPort inside the window's port from now on.
bool countCloses(MainWindow& form, int& closes) {
    auto* serial = form.link().findChild<QSerialPort*>();
    if (serial == nullptr) {
        return false;
    }
    QObject::connect(serial, &QIODevice::aboutToClose, [&closes] { ++closes; });
    return true;
}

TEST(MainWindowFaults, PulledCableGoesStaleAndAPickAfterTheReplugBringsDataBack) {
    auto first = std::make_unique<PtyPair>();
    const std::string link =
        (std::filesystem::temp_directory_path() / ("vitalon-replug-" + std::to_string(getpid())))
            .string();
    std::filesystem::remove(link);
    std::filesystem::create_symlink(first->slavePath(), link);
    MainWindow form(devices({link}));
    form.station().reconnect().disableForThisRun();  // the user brings it back by hand
    form.station().watchdogTimer().setInterval(20);  // the real timer, only faster
    form.start();
    ASSERT_TRUE(startCommandsArrive(*first));

    first->write({250, 72, 120});
    ASSERT_TRUE(waitFor([&] { return text(form.layout().pulseLabel) == "72"; }, 10000));
    EXPECT_EQ(text(form.layout().statusLabel), "OK!");

    first.reset();  // the cable is pulled
    ASSERT_TRUE(waitFor([&] { return !form.link().isOpen(); }, 10000));
    EXPECT_NE(form.statusText().indexOf("COM1 - " + QString::fromStdString(link) + " was lost"), -1)
        << form.statusText().toStdString();
    ASSERT_TRUE(waitFor([&] { return text(form.layout().statusLabel) == "No Data!"; }, 10000));
    EXPECT_EQ(text(form.layout().pulseLabel), "");

    // The adapter is back under the same path; the user picks COM1 again.
    PtyPair second;
    std::filesystem::remove(link);
    std::filesystem::create_symlink(second.slavePath(), link);
    form.layout().portActions[0]->trigger();
    EXPECT_TRUE(form.link().isOpen());
    EXPECT_EQ(form.statusText().toStdString(), "COM1 - " + link + " - 9600,n,8,1");
    second.write({250, 80, 121});
    EXPECT_TRUE(waitFor([&] { return text(form.layout().pulseLabel) == "80"; }, 10000));
    EXPECT_EQ(text(form.layout().statusLabel), "OK!");
    std::filesystem::remove(link);
}

TEST(MainWindowFaults, HeldPortIsSkippedByTheScanAndAPickSaysItIsInUse) {
    PtyPair held;
    PtyPair free;
    PtyPair later;
    // Another program with the same serial library: it holds the lock file.
    QSerialPort other(QString::fromStdString(held.slavePath()));
    ASSERT_TRUE(other.open(QIODevice::ReadWrite));

    MainWindow form(devices({held.slavePath(), free.slavePath(), later.slavePath()}));
    form.start();
    EXPECT_EQ(form.station().currentPort(), 2);
    EXPECT_FALSE(form.layout().portActions[0]->isEnabled());
    EXPECT_TRUE(form.layout().portActions[2]->isEnabled());
    ASSERT_TRUE(startCommandsArrive(free));

    QSerialPort grabber(QString::fromStdString(later.slavePath()));
    ASSERT_TRUE(grabber.open(QIODevice::ReadWrite));
    form.layout().portActions[2]->trigger();
    EXPECT_FALSE(form.link().isOpen());
    const std::string status = form.statusText().toStdString();
    EXPECT_EQ(
        status.rfind(
            "COM3 could not be opened: " + later.slavePath() + " is in use by another program", 0),
        0u)
        << status;
    EXPECT_NE(status.find("No port is open."), std::string::npos) << status;
    EXPECT_TRUE(form.layout().portActions[0]->isChecked());  // check marks as they were
    EXPECT_FALSE(form.layout().portActions[2]->isChecked());

    grabber.close();
    form.layout().portActions[2]->trigger();
    EXPECT_TRUE(form.link().isOpen());
    EXPECT_TRUE(form.layout().portActions[2]->isChecked());
}

TEST(MainWindowFaults, FloodIsDecodedInOrderWithBoundedBuffersAndTimersStayOnTime) {
    PtyPair pty;
    MainWindow form(devices({pty.slavePath()}));
    form.start();
    ASSERT_TRUE(startCommandsArrive(pty));

    const std::vector<std::uint8_t> stream = numberedStream(1 << 20);
    StreamFollower follower(form, stream);

    // A timer queued every 10 ms must still fire on time while the flood is taken.
    QElapsedTimer clock;
    clock.start();
    qint64 due = 10;
    qint64 worstLateMs = 0;
    int fired = 0;
    QTimer probe;
    probe.setSingleShot(true);
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        worstLateMs = std::max(worstLateMs, clock.elapsed() - due);
        ++fired;
        due = clock.elapsed() + 10;
        probe.start(10);
    });
    probe.start(10);

    {
        FloodWriter writer(pty.masterFd(), stream);
        EXPECT_TRUE(waitFor([&] { return follower.consumed() == stream.size(); }, 180000))
            << follower.consumed() << " of " << stream.size() << " bytes decoded";
    }
    probe.stop();

    RecordProperty("worst_timer_lateness_ms", static_cast<int>(worstLateMs));
    RecordProperty("largest_read_bytes", static_cast<int>(follower.largestRead()));
    EXPECT_EQ(follower.mismatch(), "");
    EXPECT_GT(follower.events(), 16u);  // taken in many reads, each decoded at once
    // Memory stays bounded: the port's receive buffer never holds more than
    // the kernel's line buffer, since each receive event empties it. (The
    // resident memory of the real program is measured in the end-to-end test.)
    EXPECT_LE(follower.largestRead(), 65536u);
    EXPECT_GT(fired, 10);
    EXPECT_LT(worstLateMs, 50) << "ms a queued timer was late during the flood";
}

TEST(MainWindowFaults, GarbageKeepsTheDecoderInOneOfItsFourStatesAcrossReads) {
    PtyPair pty;
    MainWindow form(devices({pty.slavePath()}));
    form.start();
    ASSERT_TRUE(startCommandsArrive(pty));

    std::vector<std::uint8_t> sent;
    StreamFollower follower(form, sent);
    // Sends `bytes` as one write and waits until the program has taken them,
    // so the next write starts a new read.
    const auto sendAsOneRead = [&](const std::vector<std::uint8_t>& bytes) {
        sent.insert(sent.end(), bytes.begin(), bytes.end());
        pty.write(bytes);
        return waitFor([&] { return follower.consumed() == sent.size(); }, 10000);
    };

    // Every byte 248..255 in every state, the marker alone at the end of one
    // read and the byte at the start of the next.
    for (const int marker : {0, 249, 250, 251}) {
        for (int b = 248; b <= 255; ++b) {
            if (marker != 0) {
                ASSERT_TRUE(sendAsOneRead({120, static_cast<std::uint8_t>(marker)}));
            }
            ASSERT_TRUE(sendAsOneRead({static_cast<std::uint8_t>(b)}));
            ASSERT_TRUE(sendAsOneRead({121}));
            ASSERT_EQ(follower.mismatch(), "");
        }
    }
    // Long runs of each marker, then random bytes in reads of random length.
    for (const int marker : {249, 250, 251}) {
        ASSERT_TRUE(
            sendAsOneRead(std::vector<std::uint8_t>(3000, static_cast<std::uint8_t>(marker))));
    }
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> any(0, 255);
    std::uniform_int_distribution<int> length(1, 700);
    std::uniform_int_distribution<int> high(248, 255);
    for (int i = 0; i < 200; ++i) {
        std::vector<std::uint8_t> chunk(static_cast<std::size_t>(length(rng)));
        for (auto& b : chunk) {
            b = static_cast<std::uint8_t>(i % 2 == 0 ? any(rng) : high(rng));
        }
        ASSERT_TRUE(sendAsOneRead(chunk));
    }
    EXPECT_EQ(follower.mismatch(), "");
    EXPECT_GE(follower.events(), 200u + 32u * 2u);
}

TEST(MainWindowFaults, ShutdownInEveryStateClosesThePortOnceAndHandlesNothingAfter) {
    {  // port open, through the window's close box
        PtyPair pty;
        auto form = std::make_unique<MainWindow>(devices({pty.slavePath()}));
        form->start();  // the scan opens and closes each port once: counted from here
        int closes = 0;
        ASSERT_TRUE(countCloses(*form, closes));
        ASSERT_TRUE(startCommandsArrive(pty));
        form->close();
        EXPECT_TRUE(form->station().ended());
        EXPECT_EQ(closes, 1);
        form.reset();
        EXPECT_EQ(closes, 1) << "the destructor closed again";
    }
    {  // no port open
        auto form = std::make_unique<MainWindow>(devices({"/dev/vitalon-absent"}));
        form->start();  // the scan opens and closes each port once: counted from here
        int closes = 0;
        ASSERT_TRUE(countCloses(*form, closes));
        const QString status = form->statusText();
        form->quit();
        EXPECT_TRUE(form->station().ended());
        EXPECT_EQ(form->statusText(), status);  // closing nothing raised no error
        form.reset();
        EXPECT_EQ(closes, 0);
    }
    {  // port lost
        auto pty = std::make_unique<PtyPair>();
        MainWindow form(devices({pty->slavePath()}));
        form.start();
        int closes = 0;
        ASSERT_TRUE(countCloses(form, closes));
        ASSERT_TRUE(startCommandsArrive(*pty));
        pty.reset();
        ASSERT_TRUE(waitFor([&] { return !form.link().isOpen(); }, 10000));
        EXPECT_EQ(closes, 1);
        form.quit();
        EXPECT_EQ(closes, 1);
    }
    {  // mid-flood: after shutdown no byte is decoded any more
        PtyPair pty;
        MainWindow form(devices({pty.slavePath()}));
        form.start();
        int closes = 0;
        ASSERT_TRUE(countCloses(form, closes));
        ASSERT_TRUE(startCommandsArrive(pty));
        pty.holdSlave();  // the line stays up after the program lets go
        const std::vector<std::uint8_t> stream = numberedStream(1 << 20);
        FloodWriter writer(pty.masterFd(), stream);
        ASSERT_TRUE(waitFor([&] { return form.station().trace().pen().x > 100; }, 10000));
        form.quit();
        EXPECT_EQ(closes, 1);
        const auto pen = form.station().trace().pen();
        const auto vitals = form.station().vitals();
        waitFor([] { return false; }, 200);  // events keep coming; none may be handled
        EXPECT_EQ(form.station().trace().pen().x, pen.x);
        EXPECT_EQ(form.station().vitals().pulseRate, vitals.pulseRate);
        EXPECT_FALSE(form.station().watchdogTimer().isActive());
    }
}

}  // namespace
}  // namespace vitalon
