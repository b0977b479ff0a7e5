#include "ModuleModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vitalon::sim {

namespace {

constexpr double kTickSeconds = 1.0 / ModuleModel::kInternalRate;
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

// Independent streams for the parts that draw random numbers, derived from the
// one seed, so that e.g. enabling byte loss does not change the patient.
std::uint64_t subSeed(std::uint64_t seed, std::uint64_t stream) {
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ULL * (stream + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double clampOr(double value, double low, double high, double fallback) {
    return std::isnan(value) ? fallback : std::clamp(value, low, high);
}

TimeSpan sanitized(TimeSpan span) {
    if (std::isnan(span.from) || std::isnan(span.until) || span.until < span.from) {
        return {};
    }
    return span;
}

// The model never fails on a scenario: values out of range are brought into it.
Scenario sanitized(Scenario s) {
    const Scenario defaults;
    s.heartRate = clampOr(s.heartRate, kMinHeartRate, kMaxHeartRate, defaults.heartRate);
    s.respirationRate = clampOr(s.respirationRate, kMinRespirationRate, kMaxRespirationRate,
                                defaults.respirationRate);
    std::erase_if(s.rateSteps, [](const RateStep& step) { return std::isnan(step.at); });
    for (RateStep& step : s.rateSteps) {
        step.beatsPerMinute =
            clampOr(step.beatsPerMinute, kMinHeartRate, kMaxHeartRate, s.heartRate);
    }
    s.leadOff = sanitized(s.leadOff);
    s.silence = sanitized(s.silence);
    s.byteLossRate = clampOr(s.byteLossRate, 0.0, 1.0, 0.0);
    s.byteCorruptionRate = clampOr(s.byteCorruptionRate, 0.0, 1.0, 0.0);
    if (s.mainsHz != 60) {
        s.mainsHz = 50;
    }
    s.humMillivolts = clampOr(s.humMillivolts, 0.0, 5.0, 0.0);
    s.noiseMillivolts = clampOr(s.noiseMillivolts, 0.0, 5.0, 0.0);
    s.baselineWanderMillivolts = clampOr(s.baselineWanderMillivolts, 0.0, 5.0, 0.0);
    if (s.heartAxisDegrees) {
        s.heartAxisDegrees =
            clampOr(*s.heartAxisDegrees, -180.0, 180.0, EcgModel::kRWaveAxisDegrees);
    }
    return s;
}

int decimationFor(int samplesPerSecond) {
    return ModuleModel::kInternalRate / samplesPerSecond;
}

constexpr int kCalibrationGuardTicks =
    static_cast<int>(ModuleModel::kCalibrationGuardSeconds * ModuleModel::kInternalRate);
constexpr int kCalibrationPulseTicks =
    static_cast<int>(ModuleModel::kCalibrationSeconds * ModuleModel::kInternalRate);
constexpr int kWideCalibrationTicks =
    static_cast<int>(ModuleModel::kWideCalibrationSeconds * ModuleModel::kInternalRate);

}  // namespace

int ModuleModel::countsPerMillivolt(int amplification) {
    switch (amplification) {
        case 0:
            return 20;
        case 2:
            return 80;
        default:
            return 40;
    }
}

ModuleModel::ModuleModel(Scenario scenario)
    : scenario_(sanitized(std::move(scenario))),
      patientHeart_(scenario_.heartRate),
      patientBreathing_(scenario_.respirationRate),
      rhythm_(scenario_.variability ? RhythmVariability{} : RhythmVariability{0.0, 0.0, 0.0},
              subSeed(scenario_.seed, 0)),
      noise_(subSeed(scenario_.seed, 1)),
      patientPulse_(kPulseIntervals, kInternalRate),
      patientBreaths_(kBreathIntervals, kInternalRate),
      testHeart_(kTestHeartRate),
      testBreathing_(kTestRespirationRate),
      testPulse_(kPulseIntervals, kInternalRate),
      testBreaths_(kBreathIntervals, kInternalRate),
      notch_(kInternalRate, settings_.filterHz),
      decimator_(decimationFor(settings_.samplesPerSecond)),
      lineFaults_(scenario_.byteLossRate, scenario_.byteCorruptionRate, subSeed(scenario_.seed, 2)),
      burstBytes_(subSeed(scenario_.seed, 4)),
      linkNoise_(subSeed(scenario_.seed, 5)),
      leadNoise_(subSeed(scenario_.seed, 6)) {
    Random phases(subSeed(scenario_.seed, 3));
    humPhaseI_ = 2.0 * std::numbers::pi * phases.uniform();
    humPhaseII_ = 2.0 * std::numbers::pi * phases.uniform();
}

void ModuleModel::receive(std::span<const std::uint8_t> bytes) {
    commands_.clear();
    splitter_.feed(bytes, commands_);
    for (const Command& command : commands_) {
        if (onCommand) {
            onCommand(command);
        }
        apply(command);
    }
}

void ModuleModel::receive(std::string_view text) {
    receive(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void ModuleModel::apply(const Command& command) {
    bool accepted = true;
    switch (command.kind) {
        case CommandKind::Speed: {
            static constexpr int kRates[] = {300, 100, 50};
            if (command.digit < 0 || command.digit > 2) {
                accepted = false;
                break;
            }
            const int rate = kRates[command.digit];
            if (rate != settings_.samplesPerSecond) {
                settings_.samplesPerSecond = rate;
                decimator_.setFactor(decimationFor(rate));
                if (has(ModuleDefect::CorruptBurst)) {
                    burstTick_ =
                        ticks_ + static_cast<std::uint64_t>(kBurstDelaySeconds * kInternalRate);
                }
            }
            break;
        }
        case CommandKind::Amplification:
            accepted = command.digit >= 0 && command.digit <= 2;
            if (accepted) {
                settings_.amplification = command.digit;
            }
            break;
        case CommandKind::Lead: {
            static constexpr Lead kLeads[] = {Lead::III, Lead::II, Lead::I};
            accepted = command.digit >= 0 && command.digit <= 2;
            if (accepted && !has(ModuleDefect::IgnoresLeadCommand)) {
                settings_.lead = kLeads[command.digit];
            }
            break;
        }
        case CommandKind::Curve:
            accepted = command.digit == 0 || command.digit == 1;
            if (accepted) {
                settings_.curve = command.digit == 0 ? Curve::Ecg : Curve::Respiration;
            }
            break;
        case CommandKind::Filter50:
        case CommandKind::Filter60:
            settings_.filterHz = command.kind == CommandKind::Filter50 ? 50 : 60;
            notch_.setFrequency(settings_.filterHz);
            break;
        case CommandKind::Normal:
            settings_.simulation = false;
            break;
        case CommandKind::Simulate:
            settings_.simulation = true;
            stuckInSimulation_ = has(ModuleDefect::StaysInSimulation);
            break;
        case CommandKind::Calibrate:
            // A calibration already under way runs to its end.
            if (calibration_ == Calibration::Idle && !has(ModuleDefect::NoCalibration)) {
                calibration_ = Calibration::Pending;
            }
            break;
    }
    if (accepted) {
        ++counters_.commands;
    } else {
        ++counters_.rejectedCommands;
    }
}

void ModuleModel::advance(std::chrono::nanoseconds dt, std::vector<std::uint8_t>& out) {
    if (dt.count() <= 0) {
        return;
    }
    elapsed_ += dt;
    const std::uint64_t due = ticksDue();
    const std::size_t start = out.size();
    while (ticks_ < due) {
        tick(out);
        ++ticks_;
    }
    const std::uint64_t lostBefore = lineFaults_.lost();
    lineFaults_.apply(out, start);
    counters_.lostBytes += lineFaults_.lost() - lostBefore;
    if (has(ModuleDefect::PausesThenCatchesUp)) {
        holdDuringPauses(out, start, dt);
    }
}

bool ModuleModel::pausedAt(double seconds) const {
    const double period = std::floor(seconds / kPausePeriodSeconds);
    const double intoPeriod = seconds - period * kPausePeriodSeconds;
    const auto turn = static_cast<std::uint64_t>(period) % 4;
    const double pause = kLongestPauseSeconds * static_cast<double>(turn + 1) / 4.0;
    return intoPeriod >= kPausePeriodSeconds - pause;
}

// The bytes of a pause are held back and go out after it, in order, as fast as
// the line carries them: nothing is lost, only late.
void ModuleModel::holdDuringPauses(std::vector<std::uint8_t>& out, std::size_t from,
                                   std::chrono::nanoseconds dt) {
    held_.insert(held_.end(), out.begin() + static_cast<std::ptrdiff_t>(from), out.end());
    out.resize(from);
    if (pausedAt(elapsedSeconds())) {
        lineBudget_ = 0.0;
        return;
    }
    lineBudget_ =
        std::min(lineBudget_ + kLineBytesPerSecond * std::chrono::duration<double>(dt).count(),
                 kLineBytesPerSecond);
    const auto n = std::min(held_.size(), static_cast<std::size_t>(lineBudget_));
    out.insert(out.end(), held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(n));
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(n));
    lineBudget_ -= static_cast<double>(n);
}

// The ticks the module's own clock has counted by now. A fast clock counts more
// of them: the patient, the rates it measures and the samples all run on it, so
// only the host's count of samples against its own clock shows the fault.
std::uint64_t ModuleModel::ticksDue() const {
    std::int64_t ns = elapsed_.count();
    if (has(ModuleDefect::RateFast)) {
        constexpr auto kPercent = static_cast<std::int64_t>((kRateFastFactor - 1.0) * 100.0 + 0.5);
        ns += ns / 100 * kPercent + ns % 100 * kPercent / 100;
    }
    std::int64_t offPerTenThousand = 0;
    if (has(ModuleDefect::RateSlightlyFast)) {
        offPerTenThousand = kClockErrorPerTenThousand;
    } else if (has(ModuleDefect::RateSlow)) {
        offPerTenThousand = -kClockErrorPerTenThousand;
    }
    ns += ns / 10'000 * offPerTenThousand + ns % 10'000 * offPerTenThousand / 10'000;
    return static_cast<std::uint64_t>((ns / kNanosPerSecond) * kInternalRate +
                                      (ns % kNanosPerSecond) * kInternalRate / kNanosPerSecond);
}

std::vector<std::uint8_t> ModuleModel::advance(std::chrono::nanoseconds dt) {
    std::vector<std::uint8_t> out;
    advance(dt, out);
    return out;
}

std::vector<std::uint8_t> ModuleModel::advance(double seconds) {
    // Up to about eleven days per call; more would only exhaust memory.
    constexpr double kMaxSeconds = 1.0e6;
    if (!(seconds > 0.0)) {
        return {};
    }
    const auto ns = std::llround(std::min(seconds, kMaxSeconds) * 1e9);
    return advance(std::chrono::nanoseconds(ns));
}

double ModuleModel::elapsedSeconds() const {
    return std::chrono::duration<double>(elapsed_).count();
}

ModuleCounters ModuleModel::counters() const {
    ModuleCounters c = counters_;
    c.unknownBytes = splitter_.unknownBytes();
    c.abandonedLetters = splitter_.abandonedLetters();
    c.corruptedBytes = lineFaults_.corrupted() + corruptedSamples_;
    return c;
}

void ModuleModel::tick(std::vector<std::uint8_t>& out) {
    const std::uint64_t k = ticks_;
    const double t = static_cast<double>(k) * kTickSeconds;
    silent_ = scenario_.silence.contains(t);

    // The patient lives on whatever the module is set to.
    const bool leadOff = scenario_.leadOff.contains(t) || leadPulled_;
    if (leadOff && !leadWasOff_) {
        // Detection starts afresh once the electrode is back.
        patientPulse_.reset();
        patientBreaths_.reset();
    }
    leadWasOff_ = leadOff;

    const bool patientBreath = patientBreathing_.step(kTickSeconds);
    const double breathing = patientBreathing_.value();
    const EcgModel::StepEvents patientBeat =
        patientHeart_.step(kTickSeconds, 2.0 * scenario_.baselineWanderMillivolts * breathing);
    if (patientBeat.beatStarted) {
        const double rate = scenario_.heartRateAt(t);
        patientHeart_.setBeat(rhythm_.nextInterval(t, rate, breathing), rate);
    }

    // Every random draw happens on every tick, whatever the settings, so that
    // two models with one seed have the same patient whichever lead they show.
    HeartVector heart = patientHeart_.heartVector();
    if (scenario_.heartAxisDegrees) {
        heart = heart.rotated(*scenario_.heartAxisDegrees - EcgModel::kRWaveAxisDegrees);
    }
    const int humPeriod = kInternalRate / scenario_.mainsHz;
    const double humAngle = 2.0 * std::numbers::pi * static_cast<double>(k % humPeriod) /
                            static_cast<double>(humPeriod);
    leadI_ = heart.lead(Lead::I) + scenario_.noiseMillivolts * noise_.gaussian() +
             scenario_.humMillivolts * std::sin(humAngle + humPhaseI_);
    leadII_ = heart.lead(Lead::II) + scenario_.noiseMillivolts * noise_.gaussian() +
              1.5 * scenario_.humMillivolts * std::sin(humAngle + humPhaseII_);
    respirationNoise_ = scenario_.noiseMillivolts * noise_.gaussian();
    if (has(ModuleDefect::NoisyLegElectrode)) {
        leadII_ += kLegNoiseMillivolts * leadNoise_.gaussian();  // III = II - I has it too
    }

    const bool testBreath = testBreathing_.step(kTickSeconds);
    const EcgModel::StepEvents testBeat = testHeart_.step(kTickSeconds, 0.0);

    // Status: every interval, and at once when it changes. While the lead is
    // off nothing can be measured: the pulse and respiration rates go out as 0
    // just before the status, which keeps the host's no-data watchdog fed.
    const bool inSimulation = simulating();
    const std::uint8_t status = (!inSimulation && leadOff) ? kStatusLeadOff : kStatusOk;
    if (status != status_ || k >= nextStatusTick_) {
        if (status == kStatusLeadOff) {
            emitReport(out, kPulseMarker, 0);
            emitReport(out, kRespirationMarker, 0);
        }
        emitReport(out, kStatusMarker, status);
        status_ = status;
        const double interval =
            has(ModuleDefect::SlowStatus) ? kSlowStatusSeconds : kStatusIntervalSeconds;
        nextStatusTick_ = k + static_cast<std::uint64_t>(interval * kInternalRate);
    }

    if (burstTick_ == k) {
        emitBurst(out);
        burstTick_.reset();
    }

    // Beats and breaths. Both sources are measured all along (the patient's only
    // while the electrodes are on); only the one shown is reported.
    if (testBeat.rPeak) {
        if (const auto rate = testPulse_.onEvent(k); rate && inSimulation) {
            emitReport(out, kPulseMarker, pulseByte(*rate));
        }
    }
    if (testBreath) {
        if (const auto rate = testBreaths_.onEvent(k); rate && inSimulation) {
            emitReport(out, kRespirationMarker, respirationByte(*rate));
        }
    }
    if (!leadOff && patientBeat.rPeak) {
        if (const auto rate = patientPulse_.onEvent(k); rate && !inSimulation) {
            emitReport(out, kPulseMarker, pulseByte(*rate));
        }
    }
    if (!leadOff && patientBreath) {
        if (const auto rate = patientBreaths_.onEvent(k); rate && !inSimulation) {
            emitReport(out, kRespirationMarker, respirationByte(*rate));
        }
    }

    // The waveform: notch at the internal rate, then one sample per window.
    // The calibration reference is switched in after the notch, which would
    // otherwise ring on its edges; the notch keeps filtering the patient
    // meanwhile, so the trace resumes without a jump of its own.
    double input = signalMillivolts(leadOff);
    if (has(ModuleDefect::EcgGainLow) && !simulating() && shownCurve() == Curve::Ecg) {
        input *= kLowEcgGain;
    }
    double value = notch_.process(input);
    if (has(ModuleDefect::MainsFilterOff)) {
        value = input;
    }
    if (calibration_ == Calibration::Pending && decimator_.atWindowStart()) {
        calibration_ = Calibration::Running;
        calibrationTick_ = 0;
    }
    if (calibration_ == Calibration::Running) {
        // Flat, the 1 mV step, flat: a rectangle standing on the baseline.
        const int pulseTicks =
            has(ModuleDefect::CalibrationWide) ? kWideCalibrationTicks : kCalibrationPulseTicks;
        const int intoPulse = calibrationTick_ - kCalibrationGuardTicks;
        const bool high = intoPulse >= 0 && intoPulse < pulseTicks;
        double top = kCalibrationMillivolts;
        if (has(ModuleDefect::CalibrationDroops)) {
            top *= 1.0 - kCalibrationDroop * intoPulse / (pulseTicks - 1.0);
        }
        const double pulse = high ? top : 0.0;
        value = has(ModuleDefect::CalibrationOnEcg) ? value + pulse : pulse;
        if (++calibrationTick_ >= 2 * kCalibrationGuardTicks + pulseTicks) {
            calibration_ = Calibration::Idle;
        }
    }
    double sample = 0.0;
    if (decimator_.push(value, sample)) {
        emitSample(out, sample);
    }
}

Curve ModuleModel::shownCurve() const {
    return has(ModuleDefect::IgnoresCurveCommand) ? Curve::Ecg : settings_.curve;
}

std::uint8_t ModuleModel::pulseByte(double rate) {
    const std::uint64_t n = pulseReportsMade_++;
    if (has(ModuleDefect::PulseTwoInFiveWrong) && (n % 5 == 1 || n % 5 == 3)) {
        return kWrongPulse;
    }
    return rateByte(rate + (has(ModuleDefect::PulseHigh) ? kPulseHighOffset : 0.0));
}

std::uint8_t ModuleModel::respirationByte(double rate) const {
    return has(ModuleDefect::RespirationZero) ? 0 : rateByte(rate);
}

double ModuleModel::signalMillivolts(bool leadOff) {
    if (simulating()) {
        // The internal test signal: clean, no electrodes involved.
        if (shownCurve() == Curve::Respiration) {
            return kRespirationMillivolts * testBreathing_.value();
        }
        return testHeart_.heartVector().lead(settings_.lead);
    }
    if (leadOff) {
        return 0.0;  // the input is open: a flat line at the baseline
    }
    if (shownCurve() == Curve::Respiration) {
        return kRespirationMillivolts * patientBreathing_.value() + respirationNoise_;
    }
    Lead shown = settings_.lead;
    if (has(ModuleDefect::LeadsSwapped) && shown != Lead::II) {
        shown = shown == Lead::I ? Lead::III : Lead::I;
    }
    switch (shown) {
        case Lead::I:
            return leadI_;
        case Lead::II:
            return leadII_;
        case Lead::III:
            return leadII_ - leadI_;  // Einthoven: III = II - I
    }
    return 0.0;
}

void ModuleModel::emitReport(std::vector<std::uint8_t>& out, std::uint8_t marker,
                             std::uint8_t value) {
    if ((marker == kPulseMarker && has(ModuleDefect::NoPulseReports)) ||
        (marker == kRespirationMarker && has(ModuleDefect::NoRespirationReports))) {
        return;
    }
    if (silent_) {
        counters_.silencedBytes += 2;
        return;
    }
    out.push_back(marker);
    out.push_back(value);
}

void ModuleModel::emitSample(std::vector<std::uint8_t>& out, double millivolts) {
    if (silent_) {
        ++counters_.silencedBytes;
        return;
    }
    if (has(ModuleDefect::StuckSample)) {
        out.push_back(0);
        return;
    }
    const int step = has(ModuleDefect::Amplification2As1) && settings_.amplification == 2
                         ? 1
                         : settings_.amplification;
    double counts = kBaseline + countsPerMillivolt(step) * millivolts;
    if (has(ModuleDefect::BaselineOffset)) {
        counts += kBaselineOffsetCounts;
    }
    if (has(ModuleDefect::NoisyLeadI) && !settings_.simulation && settings_.lead == Lead::I &&
        settings_.curve == Curve::Ecg) {
        counts += kLeadINoiseCounts * leadNoise_.gaussian();
    }
    const double clipped = std::clamp(std::round(counts), 0.0, static_cast<double>(kMaxSample));
    auto byte = static_cast<std::uint8_t>(clipped);
    std::uint32_t interval = 0;
    if (has(ModuleDefect::CorruptLink)) {
        interval = kFrequentCorruptionInterval;
    } else if (has(ModuleDefect::RareCorruptByte)) {
        interval = kRareCorruptionInterval;
    }
    if (interval != 0 && linkNoise_.next() % interval == 0) {
        // Any other value, a marker or an invalid byte included: the line
        // knows nothing of the protocol.
        byte ^= static_cast<std::uint8_t>(1 + linkNoise_.next() % 255);
        ++corruptedSamples_;
    }
    out.push_back(byte);
}

// Any byte values, markers and the never-sent 248 and 252..255 included: the
// host must live with them, and a test must notice.
void ModuleModel::emitBurst(std::vector<std::uint8_t>& out) {
    for (std::size_t i = 0; i < kBurstBytes; ++i) {
        const auto byte = static_cast<std::uint8_t>(burstBytes_.next() >> 56);
        if (silent_) {
            ++counters_.silencedBytes;
        } else {
            out.push_back(byte);
        }
    }
}

}  // namespace vitalon::sim
