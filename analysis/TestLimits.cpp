#include "TestLimits.h"

#include <algorithm>
#include <cmath>
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

enum class Bound { Positive, NonNegative };

// Ceilings that keep every value within what a test bench can mean: a
// duration of 1e300 s would otherwise be accepted and end as a time left of
// -9223372036854775808 s. Generous, so that no sensible limit is refused.
constexpr double kMaxWaitSeconds = 60.0;            // settling, waits for a first answer
constexpr double kMaxMeasureSeconds = 600.0;        // one measurement
constexpr double kMaxPromptSeconds = 3600.0;        // the technician's time to act
constexpr double kMaxPercent = 100.0;               // tolerances, droop, residuals
constexpr double kMaxDecibels = 120.0;              // filter suppression
constexpr double kMaxCounts = 255.0;                // a sample is one byte
constexpr double kMaxPerMinute = 600.0;             // heart and respiration rates
constexpr double kMaxRangeMagnitude = 1'000'000.0;  // either end of a range
constexpr int kMaxCount = 1'000'000;
constexpr int kMaxLinkErrors = 1000;  // per step; more would hide a broken line

std::string shown(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// Reads the fields of one JSON object; a key that no field asked for is an
// error once the object is done.
class Reader {
public:
    Reader(const Json& json, std::string path) : json_(json), path_(std::move(path)) {
        if (!json_.is_object()) {
            fail("", "must be an object");
        }
    }

    void number(const char* key, double& value, Bound bound, double max) {
        const Json* j = find(key);
        if (!j) {
            return;
        }
        if (!j->is_number()) {
            fail(key, "must be a number");
        }
        const double v = j->get<double>();
        if (!std::isfinite(v) || v < 0.0 || (bound == Bound::Positive && v == 0.0) || v > max) {
            fail(key, (bound == Bound::Positive ? "must be above 0 and at most "
                                                : "must be from 0 to ") +
                          shown(max));
        }
        value = v;
    }

    void count(const char* key, int& value, int max = kMaxCount) {
        const Json* j = find(key);
        if (!j) {
            return;
        }
        if (!j->is_number_integer() || j->get<long long>() < 0 || j->get<long long>() > max) {
            fail(key, "must be a whole number from 0 to " + std::to_string(max));
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

    void text(const char* key, std::string& value) {
        if (const Json* j = find(key)) {
            if (!j->is_string()) {
                fail(key, "must be a string");
            }
            value = j->get<std::string>();
        }
    }

    void range(const char* key, Range& value) {
        if (const Json* j = find(key)) {
            readRange(*j, path(key), value);
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
            readRange((*j)[i], path(key) + "[" + std::to_string(i) + "]", values[i]);
        }
    }

    template <class Fields>
    void object(const char* key, Fields&& fields) {
        if (const Json* j = find(key)) {
            Reader inner(*j, path(key));
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

private:
    const Json* find(const char* key) {
        known_.insert(key);
        const auto it = json_.find(key);
        return it == json_.end() ? nullptr : &*it;
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

    static void readRange(const Json& j, const std::string& where, Range& value) {
        Reader reader(j, where);
        Range r = value;
        reader.signedNumber("min", r.min);
        reader.signedNumber("max", r.max);
        reader.finish();
        if (r.min > r.max) {
            throw LimitsError(where + ": min is above max");
        }
        value = r;
    }

    void signedNumber(const char* key, double& value) {
        if (const Json* j = find(key)) {
            if (!j->is_number() || !std::isfinite(j->get<double>())) {
                fail(key, "must be a number");
            }
            if (std::abs(j->get<double>()) > kMaxRangeMagnitude) {
                fail(key, "must be a number from " + shown(-kMaxRangeMagnitude) + " to " +
                              shown(kMaxRangeMagnitude));
            }
            value = j->get<double>();
        }
    }

    const Json& json_;
    std::string path_;
    std::set<std::string, std::less<>> known_;
};

// Writes the same fields in the same order.
class Writer {
public:
    void number(const char* key, double& value, Bound, double) { json[key] = value; }
    void count(const char* key, int& value, int = kMaxCount) { json[key] = value; }
    void flag(const char* key, bool& value) { json[key] = value; }
    void text(const char* key, std::string& value) { json[key] = value; }
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

// The one list of the fields of the format, for reading and for writing.
template <class Visitor>
void visitFields(Visitor& v, TestLimits& l) {
    v.text("description", l.description);
    v.number("settleSeconds", l.settleSeconds, Bound::NonNegative, kMaxWaitSeconds);
    v.object("link", [&](auto& o) {
        o.number("samplesWithinSeconds", l.link.samplesWithinSeconds, Bound::Positive,
                 kMaxWaitSeconds);
        o.number("statusWithinSeconds", l.link.statusWithinSeconds, Bound::Positive,
                 kMaxWaitSeconds);
        o.count("maxErrors", l.link.maxErrors, kMaxLinkErrors);
    });
    v.object("sampleRate", [&](auto& o) {
        o.number("measureSeconds", l.sampleRate.measureSeconds, Bound::Positive,
                 kMaxMeasureSeconds);
        o.number("tolerancePercent", l.sampleRate.tolerancePercent, Bound::NonNegative,
                 kMaxPercent);
    });
    v.object("calibration", [&](auto& o) {
        o.number("recordSeconds", l.calibration.recordSeconds, Bound::Positive, kMaxMeasureSeconds);
        o.ranges("heightCounts", l.calibration.heightCounts);
        o.range("widthSeconds", l.calibration.widthSeconds);
        o.number("maxDroopPercent", l.calibration.maxDroopPercent, Bound::NonNegative, kMaxPercent);
        o.range("stepRatio", l.calibration.stepRatio);
        o.count("maxRailSamples", l.calibration.maxRailSamples);
    });
    v.object("leads", [&](auto& o) {
        o.number("measureSeconds", l.leads.measureSeconds, Bound::Positive, kMaxMeasureSeconds);
        o.count("minBeats", l.leads.minBeats, 10000);
        o.number("maxEinthovenPercent", l.leads.maxEinthovenPercent, Bound::NonNegative,
                 kMaxPercent);
        o.range("leadIRatio", l.leads.leadIRatio);
        o.range("leadIIIRatio", l.leads.leadIIIRatio);
    });
    v.object("mainsFilter", [&](auto& o) {
        o.number("measureSeconds", l.mainsFilter.measureSeconds, Bound::Positive,
                 kMaxMeasureSeconds);
        o.number("minSuppressionDb", l.mainsFilter.minSuppressionDb, Bound::NonNegative,
                 kMaxDecibels);
        o.number("minHumCounts", l.mainsFilter.minHumCounts, Bound::Positive, kMaxCounts);
    });
    v.object("simulation", [&](auto& o) {
        o.number("measureSeconds", l.simulation.measureSeconds, Bound::Positive,
                 kMaxMeasureSeconds);
        o.number("heartRate", l.simulation.heartRate, Bound::Positive, kMaxPerMinute);
        o.number("maxIntervalDeviationPercent", l.simulation.maxIntervalDeviationPercent,
                 Bound::NonNegative, kMaxPercent);
    });
    v.object("reports", [&](auto& o) {
        o.number("rateToleranceBpm", l.reports.rateToleranceBpm, Bound::NonNegative, kMaxPerMinute);
        o.number("rateTolerancePercent", l.reports.rateTolerancePercent, Bound::NonNegative,
                 kMaxPercent);
        o.number("pulseMeasureSeconds", l.reports.pulseMeasureSeconds, Bound::Positive,
                 kMaxMeasureSeconds);
        o.number("respirationMeasureSeconds", l.reports.respirationMeasureSeconds, Bound::Positive,
                 kMaxMeasureSeconds);
        o.count("minRespirationReports", l.reports.minRespirationReports, 10000);
        o.number("maxStatusIntervalSeconds", l.reports.maxStatusIntervalSeconds, Bound::Positive,
                 kMaxWaitSeconds);
        o.flag("leadOffCheck", l.reports.leadOffCheck);
        o.number("leadOffWithinSeconds", l.reports.leadOffWithinSeconds, Bound::Positive,
                 kMaxWaitSeconds);
        o.number("promptTimeoutSeconds", l.reports.promptTimeoutSeconds, Bound::Positive,
                 kMaxPromptSeconds);
    });
}

}  // namespace

double TestLimits::rateTolerance(double measuredPerMinute) const {
    return std::max(reports.rateToleranceBpm,
                    std::abs(measuredPerMinute) * reports.rateTolerancePercent / 100.0);
}

LimitsLoad parseLimits(std::string_view text) {
    LimitsLoad load;
    try {
        const Json json = Json::parse(text);
        Reader reader(json, "");
        std::string format(TestLimits::kFormatName);
        reader.text("format", format);
        if (format != TestLimits::kFormatName) {
            throw LimitsError("format: \"" + format + "\" is not \"" +
                              std::string(TestLimits::kFormatName) + "\"");
        }
        int version = -1;
        reader.count("version", version);
        if (version != TestLimits::kFormatVersion) {
            throw LimitsError(version < 0 ? std::string("version: missing")
                                          : "version: " + std::to_string(version) +
                                                " is not supported (this program reads " +
                                                std::to_string(TestLimits::kFormatVersion) + ")");
        }
        TestLimits limits;
        visitFields(reader, limits);
        reader.finish();
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
