#include <gtest/gtest.h>

#include <QAudioDevice>
#include <QCoreApplication>
#include <QMediaDevices>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "TonePlayer.h"
#include "ToneSynth.h"

namespace vitalon {
namespace {

double frequencyOf(const std::vector<std::int16_t>& pcm) {
    int crossings = 0;
    for (std::size_t i = 1; i < pcm.size(); ++i) {
        crossings += (pcm[i - 1] < 0) != (pcm[i] < 0);
    }
    return crossings / 2.0 * ToneFormat::kSampleRate / static_cast<double>(pcm.size());
}

int peak(const std::vector<std::int16_t>& pcm) {
    int p = 0;
    for (std::int16_t s : pcm) {
        p = std::max(p, std::abs(static_cast<int>(s)));
    }
    return p;
}

TEST(ToneSynth, ToneHasItsFrequencyLengthLevelAndSoftEdges) {
    const auto pulse = synthesizeTone(1000.0, 60);
    ASSERT_EQ(pulse.size(), 2880u);
    EXPECT_NEAR(frequencyOf(pulse), 1000.0, 10.0);
    EXPECT_NEAR(peak(pulse), 16384, 2);
    EXPECT_LE(peak({pulse.begin(), pulse.begin() + 24}), 300);  // faded in
    EXPECT_LE(peak({pulse.end() - 24, pulse.end()}), 300);      // faded out

    EXPECT_NEAR(frequencyOf(synthesizeTone(37.0, 1000)), 37.0, 0.37);
    EXPECT_GT(peak(synthesizeTone(1000.0, 4)), 8000);  // shorter than two ramps
    // Above half the sample rate the tone would fold into a wrong audible pitch.
    EXPECT_EQ(peak(synthesizeTone(32767.0, 60)), 0);
}

TEST(TonePlayer, WithoutAnAudioOutputReportsOnceAndStaysSilent) {
    if (!QMediaDevices::defaultAudioOutput().isNull()) {
        GTEST_SKIP() << "this machine has an audio output";
    }
    TonePlayer player;
    std::vector<std::string> messages;
    player.onUnavailable = [&](const std::string& m) { messages.push_back(m); };
    player.holdOutput(true);
    player.beep(1000, 60);
    player.beep(37, 0xFFFFFFFFu);
    QCoreApplication::processEvents();  // a beep with the output closed tries it from the event
                                        // loop
    EXPECT_EQ(messages,
              std::vector<std::string>{"Pulse tone unavailable: no audio output device."});
    EXPECT_FALSE(player.isOpen());
}

}  // namespace
}  // namespace vitalon
