#pragma once

#include <QAudio>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <string>

#include "ToneGenerator.h"

class QAudioSink;

namespace vitalon {

// Sounds tones through the default audio output with Qt Multimedia. beep()
// returns at once: the samples are handed to an audio sink that plays them
// while the event loop goes on, and the sink is released when it runs dry.
// A beep that comes while one is still sounding is dropped: the pulse tones
// are short and all alike, and restarting would only cut the first one off.
// Where there is no audio output, or it refuses the stream, nothing sounds;
// `onUnavailable` is told so the first time, with a message for the user.
class TonePlayer : public QObject, public ToneGenerator {
    Q_OBJECT

public:
    // Longer requests are cut to this, so a wild duration cannot exhaust memory.
    static constexpr std::uint32_t kMaxDurationMs = 10000;

    explicit TonePlayer(QObject* parent = nullptr);
    ~TonePlayer() override;

    void beep(std::uint32_t frequencyHz, std::uint32_t durationMs) override;

    // True from a successful start until the tone has been played out.
    bool isPlaying() const { return !sink_.isNull(); }

    // Called once, the first time a tone cannot be played.
    std::function<void(const std::string&)> onUnavailable;

private:
    void stateChanged(QAudio::State state);
    void release();
    void unavailable(const std::string& message);

    QPointer<QAudioSink> sink_;
    bool reported_ = false;
};

}  // namespace vitalon
