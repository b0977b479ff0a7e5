// POSIX only: the module server's pseudo-terminal watched by the event loop.
#include <QSocketNotifier>
#include <algorithm>
#include <chrono>

#include "SimulatedModule.h"

namespace vitalon {
namespace {

constexpr int kPeriodMs = 10;
constexpr qint64 kMaxStepNs = 500'000'000;  // after a stall the model skips ahead

}  // namespace

SimulatedModule::SimulatedModule(sim::Scenario scenario, QObject* parent)
    : SimulatedModule(nullptr, parent) {
    model_ = std::make_unique<sim::ModuleModel>(std::move(scenario));
    stream_ = std::make_unique<sim::ModelStream>(*model_);
}

SimulatedModule::SimulatedModule(std::unique_ptr<sim::ServedStream> stream, QObject* parent)
    : QObject(parent), stream_(std::move(stream)) {
    readNotifier_ = std::make_unique<QSocketNotifier>(server_.masterFd(), QSocketNotifier::Read);
    readNotifier_->setEnabled(false);
    connect(readNotifier_.get(), &QSocketNotifier::activated, this, &SimulatedModule::readCommands);

    clock_.start();
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kPeriodMs);
    connect(&timer_, &QTimer::timeout, this, &SimulatedModule::pump);
    timer_.start();
}

SimulatedModule::~SimulatedModule() {
    readNotifier_.reset();
}

void SimulatedModule::readCommands() {
    server_.readCommands(*stream_);
    readNotifier_->setEnabled(server_.listening());
}

void SimulatedModule::pump() {
    const qint64 now = clock_.nsecsElapsed();
    const qint64 step = std::min<qint64>(now - lastNs_, kMaxStepNs);
    lastNs_ = now;
    readCommands();  // has the host sent commands, or come or gone?
    server_.advance(*stream_, std::chrono::nanoseconds(step));
    readNotifier_->setEnabled(server_.listening());
}

}  // namespace vitalon
