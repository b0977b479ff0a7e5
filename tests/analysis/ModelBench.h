#pragma once

// The module acceptance test run against the module model in virtual time,
// through the real stream decoder, with deliveries as irregular as a USB
// serial adapter makes them.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ModuleModel.h"
#include "ModuleTestRunner.h"
#include "StreamDecoder.h"

namespace vitalon::analysis::testing {

class ModelChannel : public CommandChannel {
public:
    explicit ModelChannel(sim::ModuleModel& model) : model_(model) {}
    bool send(std::string_view command) override {
        sent += std::string(command) + " ";
        if (failWrites) {
            return false;
        }
        if (!lost || !lost(command)) {
            model_.receive(command);
        }
        return true;
    }

    bool failWrites = false;
    // A command written but lost before the module takes it, when it says so.
    std::function<bool(std::string_view)> lost;
    std::string sent;  // every command, space after each

private:
    sim::ModuleModel& model_;
};

struct ModelBench {
    explicit ModelBench(sim::Scenario scenario = {}, TestLimits limits = {})
        : model(std::move(scenario)), channel(model), runner(channel, std::move(limits)) {
        decoder.addListener(runner);
    }
    ModelBench(const ModelBench&) = delete;  // the decoder holds the runner's address
    ModelBench& operator=(const ModelBench&) = delete;

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
            if (tamper) {
                tamper(*this, bytes);
            }
            runner.tick(now);
            decoder.receive(bytes);
        }
    }

    double seconds() const { return secondsBetween(HostTime{}, now); }

    sim::ModuleModel model;
    ModelChannel channel;
    ModuleTestRunner runner;
    StreamDecoder decoder;
    HostTime now{};
    std::function<void(ModelBench&)> during;
    // Changes the bytes of a delivery on their way to the decoder, as a line would.
    std::function<void(ModelBench&, std::vector<std::uint8_t>&)> tamper;
};

}  // namespace vitalon::analysis::testing
