// The pulse tone as a sound server hears it: pulse reports go through the
// decoder and the vital-sign panel into the real player, which plays into a
// private PulseAudio server's null sink; the sink's monitor is recorded and
// the tones are measured from the samples.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "EventLoopWait.h"
#include "Fakes.h"
#include "PulseServer.h"
#include "StreamDecoder.h"
#include "StreamListener.h"
#include "ToneAnalysis.h"
#include "TonePlayer.h"
#include "VitalSignPanel.h"

namespace vitalon::testing {
namespace {

using namespace std::chrono_literals;

constexpr int kRate = PulseServer::kRate;

double msBetween(std::size_t from, std::size_t to) {
    return (static_cast<double>(to) - static_cast<double>(from)) * 1000.0 / kRate;
}

// The loudest sample between two tones, a millisecond clear of the faded edges.
int loudestBetween(const std::vector<std::int16_t>& pcm, const HeardTone& a, const HeardTone& b) {
    return loudest(pcm, a.end + kRate / 1000, b.start - kRate / 1000);
}

// Pulse reports go to the panel; the rest of the stream is not shown here.
class PanelListener : public StreamListener {
public:
    explicit PanelListener(VitalSignPanel& panel) : panel_(panel) {}
    void onPulse(std::uint8_t rate) override { panel_.showPulse(rate); }
    void onPulseMarker() override { panel_.restartWatchdog(); }

private:
    VitalSignPanel& panel_;
};

class ToneRecording : public ::testing::Test {
protected:
    // Qt's audio layer finds its server once per process, at its first use:
    // the private server is there and named before that.
    static void SetUpTestSuite() {
        server_ = std::make_unique<PulseServer>();
        server_->useInThisProcess();
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        player.onUnavailable = [this](const std::string& m) { messages.push_back(m); };
        startRecording();
        decoder.addListener(display);
        panel.togglePulseTone();  // "Pulse Tone" switched on
        ASSERT_TRUE(player.isOpen()) << (messages.empty() ? "" : messages.front());
    }

    void startRecording() {
        recording.reset();
        recording = std::make_unique<MonitorRecording>(*server_);
        ASSERT_TRUE(recording->waitUntilRecording(10s));
    }

    // Pulse reports (marker 250 and the value) in one read of the receive handler.
    void report(const std::vector<std::uint8_t>& values) {
        std::vector<std::uint8_t> bytes;
        for (std::uint8_t v : values) {
            bytes.insert(bytes.end(), {250, v});
        }
        decoder.receive(bytes);
    }

    // Runs the event loop while `ms` more of sound is recorded.
    void listen(std::chrono::milliseconds ms) {
        const std::size_t until = recording->size() + kRate * ms.count() / 1000;
        ASSERT_TRUE(waitFor([&] { return recording->size() >= until; }, 10000));
    }

    // The tones recorded from sample `from` on.
    std::vector<HeardTone> heard(std::size_t from = 0) {
        auto tones = findTones(recording->samples(), kRate);
        std::erase_if(tones, [&](const HeardTone& t) { return t.start < from; });
        return tones;
    }

    static void expectFullPulseTone(const HeardTone& t) {
        std::printf("tone: %.1f ms, %.1f Hz, peak %d\n", t.lengthMs, t.frequencyHz, t.peak);
        EXPECT_NEAR(t.lengthMs, 60.0, 8.0);
        EXPECT_NEAR(t.frequencyHz, 1000.0, 20.0);
        EXPECT_NEAR(t.peak, 16384, 1700);  // half of full scale
    }

    static std::unique_ptr<PulseServer> server_;
    std::unique_ptr<MonitorRecording> recording;
    FakeLabel pulse, resp, status;
    FakeMenuItem toneSwitch;
    TonePlayer player;
    VitalSignPanel panel{pulse, resp, status, toneSwitch, player};
    PanelListener display{panel};
    StreamDecoder decoder;
    std::vector<std::string> messages;
};

std::unique_ptr<PulseServer> ToneRecording::server_;

TEST_F(ToneRecording, EveryPulseIsHeardInFullWithSilenceBetween) {
    const std::size_t from = recording->size();
    for (const std::uint8_t value : std::vector<std::uint8_t>{80, 72, 90}) {
        report({value});
        listen(300ms);
    }
    const auto samples = recording->samples();
    const auto tones = heard(from);
    ASSERT_EQ(tones.size(), 3u);
    for (std::size_t i = 0; i < tones.size(); ++i) {
        SCOPED_TRACE(i);
        expectFullPulseTone(tones[i]);
        if (i > 0) {
            EXPECT_NEAR(msBetween(tones[i - 1].start, tones[i].start), 300.0, 30.0);
            EXPECT_EQ(loudestBetween(samples, tones[i - 1], tones[i]), 0);
        }
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(ToneRecording, ReportsInOneReadSoundInTurnAndZeroIsSilent) {
    const std::size_t from = recording->size();
    report({80, 0, 75});
    listen(400ms);
    const auto tones = heard(from);
    ASSERT_EQ(tones.size(), 2u);
    expectFullPulseTone(tones[0]);
    expectFullPulseTone(tones[1]);
    // One after the other: the second starts after the first and a short silence.
    const double gapMs = msBetween(tones[0].end, tones[1].start);
    EXPECT_GE(gapMs, 30.0);
    EXPECT_LE(gapMs, 60.0);
    EXPECT_EQ(loudestBetween(recording->samples(), tones[0], tones[1]), 0);
}

TEST_F(ToneRecording, ABacklogIsCutToThreeWaitingAndTheRestCounted) {
    const std::size_t from = recording->size();
    QElapsedTimer handler;
    handler.start();
    report({70, 71, 72, 73, 74, 75, 76, 77, 78, 79});
    const bool heldUp = handler.elapsed() >= 90;
    listen(700ms);
    const auto tones = heard(from);
    for (const auto& t : tones) {
        expectFullPulseTone(t);
    }
    EXPECT_EQ(tones.size() + player.dropped(), 10u);
    // One tone sounds and three wait, unless the machine held the handler up
    // for as long as a tone and its gap: then one more could take a freed place.
    if (!heldUp) {
        EXPECT_EQ(tones.size(), 4u);
    } else {
        EXPECT_LE(tones.size(), 5u);
    }
    report({80});  // the queue has drained: heard at once
    listen(200ms);
    EXPECT_EQ(heard(from).size(), tones.size() + 1);
}

// Beeps every 250 ms, as a pulse might, until a tone is heard again.
bool beepUntilHeard(const std::function<void()>& beep,
                    const std::function<std::size_t()>& tonesHeard, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        beep();
        if (waitFor([&] { return tonesHeard() > 0; }, 250)) {
            return true;
        }
    }
    return false;
}

TEST_F(ToneRecording, ServerGoneIsToldOnceAndTheToneComesBackWithIt) {
    server_->stop();
    recording.reset();
    ASSERT_TRUE(waitFor([&] { return !messages.empty(); }, 10000));
    for (int i = 0; i < 6; ++i) {  // the program carries on, telling no more
        report({80});
        waitFor([] { return false; }, 100);
    }
    EXPECT_EQ(messages, std::vector<std::string>{
                            "Pulse tone unavailable: the audio output stopped with an error."});

    server_->start();
    startRecording();
    const std::size_t from = recording->size();
    ASSERT_TRUE(beepUntilHeard([&] { report({80}); }, [&] { return heard(from).size(); }, 20000));
    listen(100ms);
    expectFullPulseTone(heard(from).front());
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(ToneRecording, OutputRemovedWhilePlayingIsToldOnceAndComesBackWhenAdded) {
    report({80});
    listen(100ms);
    server_->removeSink();
    recording.reset();
    // Beeps into the removed output: told once; the event loop goes on.
    for (int i = 0; i < 10; ++i) {
        report({80});
        waitFor([] { return false; }, 100);
    }
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("Pulse tone unavailable"), std::string::npos);

    server_->addSink();
    startRecording();
    const std::size_t from = recording->size();
    ASSERT_TRUE(beepUntilHeard([&] { report({80}); }, [&] { return heard(from).size(); }, 15000));
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(ToneRecording, SwitchedOffReleasesTheOutputAndStaysSilent) {
    panel.togglePulseTone();
    EXPECT_FALSE(player.isOpen());
    const std::size_t from = recording->size();
    report({80, 72});
    // A beep that would open the output, overtaken by a switch: nothing opens.
    player.beep(1000, 60);
    player.holdOutput(false);
    listen(200ms);
    EXPECT_TRUE(heard(from).empty());
    EXPECT_FALSE(player.isOpen());
}

}  // namespace
}  // namespace vitalon::testing
