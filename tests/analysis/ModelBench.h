#pragma once

// The module acceptance test run against the module model in virtual time,
// through the real stream decoder, with deliveries as irregular as a USB
// serial adapter makes them.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "ModuleModel.h"
#include "ModuleTestRunner.h"
#include "StreamDecoder.h"

namespace vitalon::analysis::testing {

// Hands what the decoder finds to a listener.
class ListenerSink : public StreamSink {
public:
    explicit ListenerSink(StreamListener& listener) : listener_(listener) {}
    void PlotSample(std::int16_t sample) override {
        listener_.onSample(static_cast<std::uint8_t>(sample));
    }
    void ShowPulse(std::uint8_t rate) override { listener_.onPulse(rate); }
    void ShowResp(std::uint8_t rate) override { listener_.onRespiration(rate); }
    void ShowStatus(std::uint8_t code) override { listener_.onStatus(code); }
    void PulseMarker() override { listener_.onPulseMarker(); }

private:
    StreamListener& listener_;
};

class ModelChannel : public CommandChannel {
public:
    explicit ModelChannel(sim::ModuleModel& model) : model_(model) {}
    bool send(std::string_view command) override {
        sent += std::string(command) + " ";
        if (failWrites) {
            return false;
        }
        model_.receive(command);
        return true;
    }

    bool failWrites = false;
    std::string sent;  // every command, space after each

private:
    sim::ModuleModel& model_;
};

struct ModelBench {
    explicit ModelBench(sim::Scenario scenario = {}, TestLimits limits = {})
        : model(std::move(scenario)), channel(model), runner(channel, std::move(limits)) {}

    // Runs until the test ends, at most `limit` of virtual time. `during` is
    // called before every delivery, e.g. to play the technician or to cancel.
    void run(std::chrono::seconds limit = std::chrono::seconds(400)) {
        runner.start(now);
        std::uint32_t jitter = 12345;
        std::vector<std::uint8_t> bytes;
        while (!runner.finished() && now - HostTime{} < limit) {
            // 1 to 40 ms between deliveries, with longer gaps now and then.
            jitter = jitter * 1103515245u + 12345u;
            auto step = std::chrono::milliseconds(1 + (jitter >> 16) % 40);
            if ((jitter >> 8) % 50 == 0) {
                step = std::chrono::milliseconds(150);
            }
            bytes.clear();
            model.advance(step, bytes);
            now += step;
            if (during) {
                during(*this);
            }
            runner.tick(now);
            decoder.decode(bytes, sink);
        }
    }

    double seconds() const { return secondsBetween(HostTime{}, now); }

    sim::ModuleModel model;
    ModelChannel channel;
    ModuleTestRunner runner;
    StreamDecoder decoder;
    ListenerSink sink{runner};
    HostTime now{};
    std::function<void(ModelBench&)> during;
};

}  // namespace vitalon::analysis::testing
