#pragma once

#include <QAudio>
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>

#include "ToneGenerator.h"
#include "ToneScheduler.h"

class QAudioSink;
class QIODevice;

namespace vitalon {

// The default audio output as one QAudioSink stream in push mode, kept open
// between beeps: each tone is written into it and the sound server plays it
// after whatever it still holds, so a tone is heard in full and the first
// sample reaches the server within a millisecond or so of the beep. Writes
// never wait; what the stream does not take at once is handed over as it
// makes room.
class QtToneOutput : public QObject, public ToneOutput {
    Q_OBJECT

public:
    explicit QtToneOutput(QObject* parent = nullptr);
    ~QtToneOutput() override;

    ToneOutputStatus open() override;
    bool isOpen() const override { return !sink_.isNull(); }
    bool write(std::uint32_t silenceMs, std::uint32_t frequencyHz,
               std::uint32_t durationMs) override;
    void close() override;

    // Called when the stream fails by itself, e.g. when the server goes away.
    std::function<void()> onFailed;

private:
    bool streamAlive() const;
    bool flush();
    void stateChanged(QAudio::State state);

    QPointer<QAudioSink> sink_;
    QIODevice* stream_ = nullptr;  // owned by the sink
    QByteArray pending_;           // samples the stream had no room for yet
    QTimer flushTimer_;
};

// Sounds tones through the default audio output with Qt Multimedia; beep()
// returns at once. Beeps that come while one sounds play in turn, at most
// three waiting. Where there is no audio output, or it refuses the stream,
// or it goes away, nothing sounds, `onUnavailable` is told once, and the
// output is tried again at the next beep, at most once a second.
class TonePlayer : public ToneGenerator {
public:
    TonePlayer();

    void beep(std::uint32_t frequencyHz, std::uint32_t durationMs) override;
    void holdOutput(bool on) override;

    bool isOpen() const { return output_.isOpen(); }
    std::uint64_t dropped() const { return scheduler_.dropped(); }

    // Called once per outage, the first time a tone cannot be played.
    std::function<void(const std::string&)> onUnavailable;

private:
    QtToneOutput output_;
    ToneScheduler scheduler_{output_};
    std::uint64_t switches_ = 0;  // times the tone was switched on or off
};

}  // namespace vitalon
