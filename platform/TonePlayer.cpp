#include "TonePlayer.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>
#include <algorithm>
#include <vector>

#include "ToneSynth.h"

namespace vitalon {

TonePlayer::TonePlayer(QObject* parent) : QObject(parent) {}

TonePlayer::~TonePlayer() {
    release();
}

void TonePlayer::beep(std::uint32_t frequencyHz, std::uint32_t durationMs) {
    if (durationMs == 0 || sink_) {
        return;
    }
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        unavailable("Pulse tone unavailable: no audio output device.");
        return;
    }
    QAudioFormat format;
    format.setSampleRate(ToneFormat::kSampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) {
        unavailable("Pulse tone unavailable: the audio output does not accept the tone's format.");
        return;
    }

    const std::vector<std::int16_t> pcm =
        synthesizeTone(frequencyHz, std::min(durationMs, kMaxDurationMs));
    auto* sink = new QAudioSink(device, format, this);
    auto* buffer = new QBuffer(sink);  // lives exactly as long as the sink reading it
    buffer->setData(QByteArray(reinterpret_cast<const char*>(pcm.data()),
                               static_cast<qsizetype>(pcm.size() * sizeof(std::int16_t))));
    buffer->open(QIODevice::ReadOnly);
    connect(sink, &QAudioSink::stateChanged, this, &TonePlayer::stateChanged);
    sink_ = sink;
    sink->start(buffer);
    if (sink_ && sink->error() != QAudio::NoError) {
        release();
        unavailable("Pulse tone unavailable: the audio output could not be opened.");
    }
}

void TonePlayer::stateChanged(QAudio::State state) {
    if (!sink_) {
        return;
    }
    const QAudio::Error error = sink_->error();
    if (state == QAudio::IdleState) {
        release();  // played out (the sink reports the empty buffer as an underrun)
    } else if (state == QAudio::StoppedState && error != QAudio::NoError &&
               error != QAudio::UnderrunError) {
        release();
        unavailable("Pulse tone unavailable: the audio output stopped with an error.");
    }
}

void TonePlayer::release() {
    QAudioSink* sink = sink_;
    sink_ = nullptr;
    if (sink == nullptr) {
        return;
    }
    // Stopping emits stateChanged again; disconnect first so that does not re-enter.
    sink->disconnect(this);
    sink->stop();
    sink->deleteLater();
}

void TonePlayer::unavailable(const std::string& message) {
    if (reported_) {
        return;
    }
    reported_ = true;
    if (onUnavailable) {
        onUnavailable(message);
    }
}

}  // namespace vitalon
