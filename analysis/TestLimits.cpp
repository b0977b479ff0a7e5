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

// Reads the fields of one JSON object; a key that no field asked for is an
// error once the object is done.
class Reader {
public:
    Reader(const Json& json, std::string path) : json_(json), path_(std::move(path)) {
        if (!json_.is_object()) {
            fail("", "must be an object");
        }
    }

    void number(const char* key, double& value, Bound bound) {
        const Json* j = find(key);
        if (!j) {
            return;
        }
        if (!j->is_number()) {
            fail(key, "must be a number");
        }
        const double v = j->get<double>();
        if (!std::isfinite(v) || v < 0.0 || (bound == Bound::Positive && v == 0.0)) {
            fail(key, bound == Bound::Positive ? "must be above 0" : "must not be negative");
        }
        value = v;
    }

    void count(const char* key, int& value) {
        const Json* j = find(key);
        if (!j) {
            return;
        }
        if (!j->is_number_integer() || j->get<long long>() < 0 || j->get<long long>() > 1'000'000) {
            fail(key, "must be a whole number from 0 to 1000000");
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
    void number(const char* key, double& value, Bound) { json[key] = value; }
    void count(const char* key, int& value) { json[key] = value; }
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
    v.number("settleSeconds", l.settleSeconds, Bound::NonNegative);
    v.object("link", [&](auto& o) {
        o.number("samplesWithinSeconds", l.link.samplesWithinSeconds, Bound::Positive);
        o.number("statusWithinSeconds", l.link.statusWithinSeconds, Bound::Positive);
    });
    v.object("sampleRate", [&](auto& o) {
        o.number("measureSeconds", l.sampleRate.measureSeconds, Bound::Positive);
        o.number("tolerancePercent", l.sampleRate.tolerancePercent, Bound::NonNegative);
    });
    v.object("calibration", [&](auto& o) {
        o.number("recordSeconds", l.calibration.recordSeconds, Bound::Positive);
        o.ranges("heightCounts", l.calibration.heightCounts);
        o.range("widthSeconds", l.calibration.widthSeconds);
        o.number("maxDroopPercent", l.calibration.maxDroopPercent, Bound::NonNegative);
        o.range("stepRatio", l.calibration.stepRatio);
        o.count("maxRailSamples", l.calibration.maxRailSamples);
    });
    v.object("leads", [&](auto& o) {
        o.number("measureSeconds", l.leads.measureSeconds, Bound::Positive);
        o.count("minBeats", l.leads.minBeats);
        o.number("maxEinthovenPercent", l.leads.maxEinthovenPercent, Bound::NonNegative);
        o.range("leadIRatio", l.leads.leadIRatio);
        o.range("leadIIIRatio", l.leads.leadIIIRatio);
    });
    v.object("mainsFilter", [&](auto& o) {
        o.number("measureSeconds", l.mainsFilter.measureSeconds, Bound::Positive);
        o.number("minSuppressionDb", l.mainsFilter.minSuppressionDb, Bound::NonNegative);
        o.number("minHumCounts", l.mainsFilter.minHumCounts, Bound::Positive);
    });
    v.object("simulation", [&](auto& o) {
        o.number("measureSeconds", l.simulation.measureSeconds, Bound::Positive);
        o.number("heartRate", l.simulation.heartRate, Bound::Positive);
        o.number("maxIntervalDeviationPercent", l.simulation.maxIntervalDeviationPercent,
                 Bound::NonNegative);
    });
    v.object("reports", [&](auto& o) {
        o.number("rateToleranceBpm", l.reports.rateToleranceBpm, Bound::NonNegative);
        o.number("rateTolerancePercent", l.reports.rateTolerancePercent, Bound::NonNegative);
        o.number("pulseMeasureSeconds", l.reports.pulseMeasureSeconds, Bound::Positive);
        o.number("respirationMeasureSeconds", l.reports.respirationMeasureSeconds, Bound::Positive);
        o.count("minRespirationReports", l.reports.minRespirationReports);
        o.number("maxStatusIntervalSeconds", l.reports.maxStatusIntervalSeconds, Bound::Positive);
        o.flag("leadOffCheck", l.reports.leadOffCheck);
        o.number("leadOffWithinSeconds", l.reports.leadOffWithinSeconds, Bound::Positive);
        o.number("promptTimeoutSeconds", l.reports.promptTimeoutSeconds, Bound::Positive);
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
