#include "TonePlayer.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <vector>

#include "ToneSynth.h"

namespace vitalon {

namespace {

// What the sound server keeps queued ahead of playback. Small, so a tone
// written after a pause starts at once: the server starts a stream once this
// much is queued, and one tone is more than that.
constexpr int kServerBufferUs = 20000;
constexpr int kFlushRetryMs = 10;

QAudioFormat toneFormat() {
    QAudioFormat format;
    format.setSampleRate(ToneFormat::kSampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    return format;
}

bool healthy(QAudio::Error error) {
    return error == QAudio::NoError || error == QAudio::UnderrunError;
}

}  // namespace

QtToneOutput::QtToneOutput(QObject* parent) : QObject(parent) {
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(kFlushRetryMs);
    connect(&flushTimer_, &QTimer::timeout, this, [this] {
        if (!flush() && onFailed) {
            onFailed();
        }
    });
}

QtToneOutput::~QtToneOutput() {
    // Deleted here rather than later: a stream left to the end of the process
    // would outlive the audio layer it belongs to.
    if (QAudioSink* sink = sink_) {
        sink->disconnect(this);
        sink->stop();
        delete sink;
    }
}

ToneOutputStatus QtToneOutput::open() {
    close();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        return ToneOutputStatus::NoDevice;
    }
    const QAudioFormat format = toneFormat();
    if (!device.isFormatSupported(format)) {
        return ToneOutputStatus::FormatRefused;
    }
    auto* sink = new QAudioSink(device, format, this);
    sink->setBufferSize(format.bytesForDuration(kServerBufferUs));
    QIODevice* stream = sink->start();
    if (stream == nullptr || !healthy(sink->error())) {
        sink->stop();
        delete sink;
        return ToneOutputStatus::Failed;
    }
    // Connected only now: a failure while starting is the result above.
    connect(sink, &QAudioSink::stateChanged, this, &QtToneOutput::stateChanged);
    sink_ = sink;
    stream_ = stream;
    return ToneOutputStatus::Opened;
}

bool QtToneOutput::write(std::uint32_t silenceMs, std::uint32_t frequencyHz,
                         std::uint32_t durationMs) {
    if (!streamAlive()) {
        return false;
    }
    const auto silence = static_cast<qsizetype>(silenceMs) * ToneFormat::kSampleRate / 1000 * 2;
    const std::vector<std::int16_t> pcm = synthesizeTone(frequencyHz, durationMs);
    pending_.append(silence, '\0');
    pending_.append(reinterpret_cast<const char*>(pcm.data()),
                    static_cast<qsizetype>(pcm.size() * sizeof(std::int16_t)));
    return flush();
}

void QtToneOutput::close() {
    flushTimer_.stop();
    pending_.clear();
    stream_ = nullptr;
    QAudioSink* sink = sink_;
    sink_ = nullptr;
    if (sink == nullptr) {
        return;
    }
    // Stopping emits stateChanged; disconnect first so that does not re-enter.
    // The sink may be the sender of the signal being handled: delete it later.
    sink->disconnect(this);
    sink->stop();
    sink->deleteLater();
}

// A stream the server has dropped (its device went away) reports no free
// space as -1. It must not be written to: Qt 6.4 leaves the audio layer's
// lock taken when a write to such a stream fails, and the next open hangs.
bool QtToneOutput::streamAlive() const {
    return sink_ && stream_ != nullptr && healthy(sink_->error()) && sink_->bytesFree() >= 0;
}

bool QtToneOutput::flush() {
    while (!pending_.isEmpty()) {
        if (!streamAlive()) {
            return false;
        }
        const qint64 written = stream_->write(pending_);
        if (written < 0 || !healthy(sink_->error())) {
            return false;
        }
        if (written == 0) {
            flushTimer_.start();  // the stream is full: hand the rest over shortly
            return true;
        }
        pending_.remove(0, static_cast<qsizetype>(written));
    }
    return true;
}

void QtToneOutput::stateChanged(QAudio::State state) {
    if (state == QAudio::StoppedState && sink_ && !healthy(sink_->error()) && onFailed) {
        onFailed();
    }
}

TonePlayer::TonePlayer() {
    scheduler_.onUnavailable = [this](const std::string& message) {
        if (onUnavailable) {
            onUnavailable(message);
        }
    };
    output_.onFailed = [this] { scheduler_.outputFailed(ToneScheduler::Clock::now()); };
}

void TonePlayer::beep(std::uint32_t frequencyHz, std::uint32_t durationMs) {
    if (output_.isOpen()) {
        scheduler_.beep(frequencyHz, durationMs, ToneScheduler::Clock::now());
        return;
    }
    // Opening a stream waits for the sound server's answer: that is done once
    // the handler that beeped has returned, so the receive handler never waits.
    // A switch of the tone in between cancels it.
    QTimer::singleShot(0, &output_, [this, frequencyHz, durationMs, switches = switches_] {
        if (switches == switches_) {
            scheduler_.beep(frequencyHz, durationMs, ToneScheduler::Clock::now());
        }
    });
}

void TonePlayer::holdOutput(bool on) {
    ++switches_;
    scheduler_.hold(on, ToneScheduler::Clock::now());
}

}  // namespace vitalon
