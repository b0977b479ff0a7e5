#include "TestLimits.h"

#include "Sha256.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>

namespace vitalon::analysis {

namespace {

using Json = nlohmann::ordered_json;

struct LimitsError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Floors and ceilings. Durations keep every wait and measurement within what
// a test bench can mean (a duration of 1e300 s would otherwise end as a time
// left of -9223372036854775808 s); tolerances are above 0 and well below what
// would accept any module; counts ask for at least one thing to judge by.
constexpr double kMaxWaitSeconds = 60.0;      // settling, waits for a first answer
constexpr double kMaxMeasureSeconds = 600.0;  // one measurement
constexpr double kMaxPromptSeconds = 3600.0;  // the technician's time to act
constexpr double kMaxPerMinute = 600.0;       // heart rates
// A patient simulator's rates: what a module must measure, and a respiration
// curve slow enough that its breaths can be counted on a recording.
constexpr double kMinPerMinute = 20.0;
constexpr double kMaxPatientPerMinute = 300.0;
constexpr double kMinBreathsPerMinute = 3.0;
constexpr double kMaxBreathsPerMinute = 120.0;
constexpr double kMaxCounts = 255.0;                // a sample is one byte
constexpr double kMaxRangeMagnitude = 1'000'000.0;  // either end of any range
constexpr double kMaxCount = 10'000.0;

const LimitBounds* boundsOf(std::string_view key) {
    for (const LimitBounds& b : limitBounds()) {
        if (b.key == key) {
            return &b;
        }
    }
    return nullptr;
}

std::string shown(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

std::string boundsText(const LimitBounds& b) {
    return b.aboveFloor ? "above " + shown(b.floor) + " and at most " + shown(b.ceiling)
                        : "from " + shown(b.floor) + " to " + shown(b.ceiling);
}

bool within(const LimitBounds& b, double v) {
    return v <= b.ceiling && (b.aboveFloor ? v > b.floor : v >= b.floor);
}

// Reads the fields of one JSON object; a key that no field asked for is an
// error once the object is done, a key that is not there is remembered and an
// error once the whole file is read.
class Reader {
public:
    Reader(const Json& json, std::string path, std::string& firstMissing)
        : json_(json), path_(std::move(path)), firstMissing_(firstMissing) {
        if (!json_.is_object()) {
            fail("", "must be an object");
        }
    }

    void number(const char* key, double& value) {
        const Json* j = find(key);
        if (!j) {
            return;
        }
        if (!j->is_number()) {
            fail(key, "must be a number");
        }
        const double v = j->get<double>();
        const LimitBounds& b = bounds(key);
        if (!std::isfinite(v) || !within(b, v)) {
            fail(key, "must be " + boundsText(b));
        }
        value = v;
    }

    void count(const char* key, int& value) {
        const Json* j = find(key);
        if (!j) {
            return;
        }
        const LimitBounds& b = bounds(key);
        if (!j->is_number_integer() || !within(b, static_cast<double>(j->get<long long>()))) {
            fail(key, "must be a whole number " + boundsText(b));
        }
        value = j->get<int>();
    }

    void flag(const char* key, bool& value) {
        if (const Json* j = find(key)) {
            if (!j->is_boolean()) {
                fail(key, "must be true or false");
            }
            value = j->get<bool>();
        }
    }

    void text(const char* key, std::string& value, bool nonEmpty = false) {
        if (const Json* j = find(key)) {
            if (!j->is_string()) {
                fail(key, "must be a string");
            }
            if (nonEmpty && j->get<std::string>().empty()) {
                fail(key, "must not be empty");
            }
            value = j->get<std::string>();
        }
    }

    void range(const char* key, Range& value) {
        if (const Json* j = find(key)) {
            readRange(*j, path(key), bounds(key), value);
        }
    }

    template <std::size_t N>
    void ranges(const char* key, std::array<Range, N>& values) {
        const Json* j = find(key);
        if (!j) {
            return;
        }
        if (!j->is_array() || j->size() != N) {
            fail(key, "must be a list of " + std::to_string(N) + " ranges");
        }
        for (std::size_t i = 0; i < N; ++i) {
            readRange((*j)[i], path(key) + "[" + std::to_string(i) + "]", bounds(key), values[i]);
        }
    }

    template <class Fields>
    void object(const char* key, Fields&& fields) {
        if (const Json* j = find(key)) {
            Reader inner(*j, path(key), firstMissing_);
            fields(inner);
            inner.finish();
        }
    }

    void finish() const {
        for (const auto& [key, value] : json_.items()) {
            if (!known_.contains(key)) {
                fail(key, "unknown key");
            }
        }
    }

    // A key that may be left out: the caller keeps its value.
    const Json* optional(const char* key) {
        known_.insert(key);
        const auto it = json_.find(key);
        return it == json_.end() ? nullptr : &*it;
    }

private:
    const Json* find(const char* key) {
        const Json* j = optional(key);
        if (!j && firstMissing_.empty()) {
            firstMissing_ = path(key);
        }
        return j;
    }

    const LimitBounds& bounds(std::string_view key) const {
        const LimitBounds* b = boundsOf(path(key));
        if (!b) {
            throw std::logic_error("no bounds for " + path(key));
        }
        return *b;
    }

    std::string path(std::string_view key) const {
        if (path_.empty()) {
            return std::string(key);
        }
        return key.empty() ? path_ : path_ + "." + std::string(key);
    }

    [[noreturn]] void fail(std::string_view key, const std::string& problem) const {
        throw LimitsError(path(key) + ": " + problem);
    }

    void readRange(const Json& j, const std::string& where, const LimitBounds& b,
                   Range& value) const {
        // Both ends are needed: an open end would accept any value on that side.
        Reader reader(j, where, firstMissing_);
        Range r = value;
        reader.signedNumber("min", r.min, b);
        reader.signedNumber("max", r.max, b);
        reader.finish();
        if (r.min > r.max) {
            throw LimitsError(where + ": min is above max");
        }
        value = r;
    }

    void signedNumber(const char* key, double& value, const LimitBounds& b) {
        if (const Json* j = find(key)) {
            if (!j->is_number() || !std::isfinite(j->get<double>())) {
                fail(key, "must be a number");
            }
            const double v = j->get<double>();
            if (std::abs(v) > kMaxRangeMagnitude) {
                fail(key, "must be a number from " + shown(-kMaxRangeMagnitude) + " to " +
                              shown(kMaxRangeMagnitude));
            }
            if (!within(b, v)) {
                fail(key, "must be " + boundsText(b));
            }
            value = v;
        }
    }

    const Json& json_;
    std::string path_;
    std::string& firstMissing_;
    std::set<std::string, std::less<>> known_;
};

// Writes the same fields in the same order.
class Writer {
public:
    void number(const char* key, double& value) { json[key] = value; }
    void count(const char* key, int& value) { json[key] = value; }
    void flag(const char* key, bool& value) { json[key] = value; }
    void text(const char* key, std::string& value, bool = false) { json[key] = value; }
    void range(const char* key, Range& value) { json[key] = rangeJson(value); }
    template <std::size_t N>
    void ranges(const char* key, std::array<Range, N>& values) {
        Json list = Json::array();
        for (const Range& r : values) {
            list.push_back(rangeJson(r));
        }
        json[key] = list;
    }
    template <class Fields>
    void object(const char* key, Fields&& fields) {
        Writer inner;
        fields(inner);
        json[key] = inner.json;
    }

    Json json = Json::object();

private:
    static Json rangeJson(const Range& r) { return Json{{"min", r.min}, {"max", r.max}}; }
};

// The bench's heart axis sets the R waves of the leads to one another (lead I
// along 0 degrees, II along +60, III along +120): ratio ranges that leave out
// what the axis gives would fail every sound module on that bench. Where lead
// II is too small to divide by, the ratios are not judged and nothing is checked.
void checkAxisFitsLeadRatios(const TestLimits& l) {
    constexpr double kDegree = 3.14159265358979323846 / 180.0;
    const double axis = l.bench.axisDegrees * kDegree;
    const double leadI = std::cos(axis);
    const double leadII = std::cos(axis - 60.0 * kDegree);
    const double leadIII = std::cos(axis - 120.0 * kDegree);
    const double largest = std::max({std::abs(leadI), std::abs(leadII), std::abs(leadIII)});
    if (std::abs(leadII) < largest / 3.0) {
        return;
    }
    const auto fits = [&](const char* key, const Range& range, double ratio) {
        if (ratio < range.min || ratio > range.max) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "%.2f to %.2f leaves out %.2f, the ratio that bench.axisDegrees %.0f "
                          "gives",
                          range.min, range.max, ratio, l.bench.axisDegrees);
            throw LimitsError(std::string("leads.") + key + ": " + text);
        }
    };
    fits("leadIRatio", l.leads.leadIRatio, leadI / leadII);
    fits("leadIIIRatio", l.leads.leadIIIRatio, leadIII / leadII);
}

// The one list of the fields of the format, for reading and for writing.
template <class Visitor>
void visitFields(Visitor& v, TestLimits& l) {
    v.text("name", l.name, true);
    v.text("revision", l.revision, true);
    v.text("description", l.description);
    v.object("bench", [&](auto& o) {
        o.number("heartRate", l.bench.heartRate);
        o.number("respirationRate", l.bench.respirationRate);
        o.number("amplitudeMillivolts", l.bench.amplitudeMillivolts);
        o.number("axisDegrees", l.bench.axisDegrees);
        o.flag("hum50Hz", l.bench.hum50Hz);
        o.flag("hum60Hz", l.bench.hum60Hz);
    });
    v.number("settleSeconds", l.settleSeconds);
    v.number("marginalFraction", l.marginalFraction);
    v.object("link", [&](auto& o) {
        o.number("samplesWithinSeconds", l.link.samplesWithinSeconds);
        o.number("statusWithinSeconds", l.link.statusWithinSeconds);
        o.count("maxErrors", l.link.maxErrors);
    });
    v.object("sampleRate", [&](auto& o) {
        o.number("measureSeconds", l.sampleRate.measureSeconds);
        o.number("tolerancePercent", l.sampleRate.tolerancePercent);
    });
    v.object("calibration", [&](auto& o) {
        o.number("recordSeconds", l.calibration.recordSeconds);
        o.ranges("heightCounts", l.calibration.heightCounts);
        o.range("widthSeconds", l.calibration.widthSeconds);
        o.number("maxDroopPercent", l.calibration.maxDroopPercent);
        o.range("stepRatio", l.calibration.stepRatio);
        o.count("maxRailSamples", l.calibration.maxRailSamples);
        o.number("maxBaselineOffsetCounts", l.calibration.maxBaselineOffsetCounts);
    });
    v.object("leads", [&](auto& o) {
        o.number("measureSeconds", l.leads.measureSeconds);
        o.count("minBeats", l.leads.minBeats);
        o.number("maxEinthovenPercent", l.leads.maxEinthovenPercent);
        o.range("leadIRatio", l.leads.leadIRatio);
        o.range("leadIIIRatio", l.leads.leadIIIRatio);
        o.number("maxNoiseCounts", l.leads.maxNoiseCounts);
    });
    v.object("mainsFilter", [&](auto& o) {
        o.number("measureSeconds", l.mainsFilter.measureSeconds);
        o.number("minSuppressionDb", l.mainsFilter.minSuppressionDb);
        o.number("minHumCounts", l.mainsFilter.minHumCounts);
    });
    v.object("simulation", [&](auto& o) {
        o.number("measureSeconds", l.simulation.measureSeconds);
        o.number("heartRate", l.simulation.heartRate);
        o.number("respirationRate", l.simulation.respirationRate);
        o.number("maxIntervalDeviationPercent", l.simulation.maxIntervalDeviationPercent);
        o.number("returnWithinSeconds", l.simulation.returnWithinSeconds);
    });
    v.object("reports", [&](auto& o) {
        o.number("rateToleranceBpm", l.reports.rateToleranceBpm);
        o.number("rateTolerancePercent", l.reports.rateTolerancePercent);
        o.number("respirationTolerance", l.reports.respirationTolerance);
        o.count("maxPulseOutside", l.reports.maxPulseOutside);
        o.count("maxRespirationOutside", l.reports.maxRespirationOutside);
        o.count("minPulseReports", l.reports.minPulseReports);
        o.number("amplitudeTolerancePercent", l.reports.amplitudeTolerancePercent);
        o.number("pulseMeasureSeconds", l.reports.pulseMeasureSeconds);
        o.number("respirationMeasureSeconds", l.reports.respirationMeasureSeconds);
        o.count("minRespirationReports", l.reports.minRespirationReports);
        o.number("maxStatusIntervalSeconds", l.reports.maxStatusIntervalSeconds);
        o.flag("leadOffCheck", l.reports.leadOffCheck);
        o.number("leadOffWithinSeconds", l.reports.leadOffWithinSeconds);
        o.number("promptTimeoutSeconds", l.reports.promptTimeoutSeconds);
    });
    v.object("restore", [&](auto& o) {
        o.number("measureSeconds", l.restore.measureSeconds);
        o.number("maxRWaveChangePercent", l.restore.maxRWaveChangePercent);
    });
}

}  // namespace

const std::vector<LimitBounds>& limitBounds() {
    static const std::vector<LimitBounds> bounds = {
        {"bench.heartRate", kMinPerMinute, kMaxPatientPerMinute, false},
        {"bench.respirationRate", kMinBreathsPerMinute, kMaxBreathsPerMinute, false},
        {"bench.amplitudeMillivolts", 0.0, 10.0, true},
        {"bench.axisDegrees", -180.0, 180.0, false},
        {"marginalFraction", 0.0, 0.5, false},
        {"settleSeconds", 0.0, kMaxWaitSeconds, false},
        {"link.samplesWithinSeconds", 0.0, kMaxWaitSeconds, true},
        {"link.statusWithinSeconds", 0.0, kMaxWaitSeconds, true},
        {"link.maxErrors", 0.0, 1000.0, false},  // 0: no error allowed
        {"sampleRate.measureSeconds", 0.0, kMaxMeasureSeconds, true},
        {"sampleRate.tolerancePercent", 0.0, 10.0, true},
        {"calibration.recordSeconds", 0.0, kMaxMeasureSeconds, true},
        {"calibration.heightCounts", 0.0, kMaxCounts, false},
        {"calibration.widthSeconds", 0.0, 10.0, false},
        {"calibration.maxDroopPercent", 0.0, 50.0, true},
        {"calibration.stepRatio", 0.0, 10.0, false},
        {"calibration.maxRailSamples", 0.0, 1000.0, false},
        // Below a count rounding alone moves the level; at 64 a quarter of the range.
        {"calibration.maxBaselineOffsetCounts", 1.0, 64.0, false},
        {"leads.measureSeconds", 0.0, kMaxMeasureSeconds, true},
        {"leads.minBeats", 8.0, kMaxCount, false},
        {"leads.maxEinthovenPercent", 0.0, 50.0, true},
        {"leads.leadIRatio", -10.0, 10.0, false},
        {"leads.leadIIIRatio", -10.0, 10.0, false},
        // Rounding alone reads 0.3 counts; 20 counts rms would hide the ECG.
        {"leads.maxNoiseCounts", 0.5, 20.0, false},
        {"mainsFilter.measureSeconds", 0.0, kMaxMeasureSeconds, true},
        {"mainsFilter.minSuppressionDb", 6.0, 120.0, false},
        {"mainsFilter.minHumCounts", 0.0, kMaxCounts, true},
        {"simulation.measureSeconds", 0.0, kMaxMeasureSeconds, true},
        {"simulation.heartRate", 0.0, kMaxPerMinute, true},
        {"simulation.respirationRate", kMinBreathsPerMinute, kMaxBreathsPerMinute, false},
        {"simulation.maxIntervalDeviationPercent", 0.0, 50.0, true},
        {"simulation.returnWithinSeconds", 0.0, kMaxWaitSeconds, true},
        {"reports.rateToleranceBpm", 0.0, 30.0, true},
        {"reports.rateTolerancePercent", 0.0, 30.0, true},
        {"reports.respirationTolerance", 0.0, 10.0, true},
        {"reports.maxPulseOutside", 0.0, kMaxCount, false},  // 0: every report agrees
        {"reports.maxRespirationOutside", 0.0, kMaxCount, false},
        {"reports.minPulseReports", 1.0, kMaxCount, false},
        {"reports.amplitudeTolerancePercent", 0.0, 50.0, true},
        {"reports.pulseMeasureSeconds", 0.0, kMaxMeasureSeconds, true},
        {"reports.respirationMeasureSeconds", 0.0, kMaxMeasureSeconds, true},
        {"reports.minRespirationReports", 1.0, kMaxCount, false},
        {"reports.maxStatusIntervalSeconds", 0.0, kMaxWaitSeconds, true},
        {"reports.leadOffWithinSeconds", 0.0, kMaxWaitSeconds, true},
        {"reports.promptTimeoutSeconds", 0.0, kMaxPromptSeconds, true},
        // Two seconds at least: three beats and the rate over two whole seconds.
        {"restore.measureSeconds", 2.0, kMaxMeasureSeconds, false},
        {"restore.maxRWaveChangePercent", 0.0, 50.0, true},
    };
    return bounds;
}

double TestLimits::rateTolerance(double measuredPerMinute) const {
    return std::max(reports.rateToleranceBpm,
                    std::abs(measuredPerMinute) * reports.rateTolerancePercent / 100.0);
}

bool TestLimits::operator==(const TestLimits& other) const {
    TestLimits a = *this;
    TestLimits b = other;
    a.sha256.clear();
    b.sha256.clear();
    Writer left;
    Writer right;
    visitFields(left, a);
    visitFields(right, b);
    return left.json == right.json;
}

LimitsLoad parseLimits(std::string_view text) {
    LimitsLoad load;
    try {
        const Json json = Json::parse(text);
        std::string firstMissing;
        Reader reader(json, "", firstMissing);
        std::string format(TestLimits::kFormatName);
        if (const Json* j = reader.optional("format")) {
            if (!j->is_string()) {
                throw LimitsError("format: must be a string");
            }
            format = j->get<std::string>();
        }
        if (format != TestLimits::kFormatName) {
            throw LimitsError("format: \"" + format + "\" is not \"" +
                              std::string(TestLimits::kFormatName) + "\"");
        }
        const Json* version = reader.optional("version");
        if (!version) {
            throw LimitsError("version: missing");
        }
        if (!version->is_number_integer() ||
            version->get<long long>() != TestLimits::kFormatVersion) {
            throw LimitsError("version: " + version->dump() +
                              " is not supported (this program reads " +
                              std::to_string(TestLimits::kFormatVersion) + ")");
        }
        TestLimits limits;
        visitFields(reader, limits);
        reader.finish();
        if (!firstMissing.empty()) {
            throw LimitsError(firstMissing + ": missing");
        }
        checkAxisFitsLeadRatios(limits);
        limits.sha256 = sha256Hex(text);
        load.limits = std::move(limits);
    } catch (const Json::parse_error& e) {
        load.error = std::string("not JSON: ") + e.what();
    } catch (const Json::exception& e) {
        load.error = e.what();
    } catch (const LimitsError& e) {
        load.error = e.what();
    }
    return load;
}

LimitsLoad loadLimitsFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return {std::nullopt, path + ": cannot be read"};
    }
    std::ostringstream text;
    text << file.rdbuf();
    LimitsLoad load = parseLimits(text.str());
    if (!load.limits) {
        load.error = path + ": " + load.error;
    }
    return load;
}

std::string limitsToJson(const TestLimits& limits) {
    Writer writer;
    writer.json["format"] = TestLimits::kFormatName;
    writer.json["version"] = TestLimits::kFormatVersion;
    TestLimits copy = limits;
    visitFields(writer, copy);
    return writer.json.dump(2) + "\n";
}

}  // namespace vitalon::analysis
