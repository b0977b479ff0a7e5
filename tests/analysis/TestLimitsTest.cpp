#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Sha256.h"
#include "TestLimits.h"

namespace vitalon::analysis {
namespace {

using Json = nlohmann::ordered_json;

std::vector<std::string> split(const std::string& path) {
    std::vector<std::string> parts;
    std::istringstream in(path);
    for (std::string part; std::getline(in, part, '.');) {
        parts.push_back(part);
    }
    return parts;
}

// Every leaf of a JSON object as a dotted path; list items as "key[i]".
void collectLeaves(const Json& json, const std::string& path, std::vector<std::string>& out) {
    if (json.is_object()) {
        for (const auto& [key, value] : json.items()) {
            collectLeaves(value, path.empty() ? key : path + "." + key, out);
        }
    } else if (json.is_array()) {
        for (std::size_t i = 0; i < json.size(); ++i) {
            collectLeaves(json[i], path + "[" + std::to_string(i) + "]", out);
        }
    } else {
        out.push_back(path);
    }
}

std::vector<std::string> leafPaths(const Json& json) {
    std::vector<std::string> out;
    collectLeaves(json, "", out);
    return out;
}

// Walks "a.b[1].c" through objects and lists.
Json* walk(Json& json, const std::string& path, std::string* last) {
    Json* at = &json;
    const std::vector<std::string> parts = split(path);
    for (std::size_t p = 0; p < parts.size(); ++p) {
        std::string part = parts[p];
        std::optional<std::size_t> index;
        if (const auto open = part.find('['); open != std::string::npos) {
            index = std::stoul(part.substr(open + 1));
            part = part.substr(0, open);
        }
        if (p + 1 == parts.size() && !index) {
            *last = part;
            return at;
        }
        at = &(*at)[part];
        if (index) {
            at = &(*at)[*index];
        }
    }
    return at;
}

void erase(Json& json, const std::string& path) {
    std::string last;
    walk(json, path, &last)->erase(last);
}

Json at(Json json, const std::string& path) {
    std::string last;
    return (*walk(json, path, &last))[last];
}

// "calibration.heightCounts[0].min" -> "calibration.heightCounts": ranges are
// bounded as a whole.
std::string rangeKey(const std::string& path) {
    std::string key = path.substr(0, path.find('['));
    for (const char* end : {".min", ".max"}) {
        if (key.ends_with(end)) {
            key.resize(key.size() - 4);
        }
    }
    return key;
}

std::string withHeader(const std::string& body) {
    return R"({"format": "vitalon-module-test-limits", "version": 1)" +
           (body.empty() ? "" : ", " + body) + "}";
}

TEST(TestLimits, ShippedFileHoldsTheDefaultsThatDescribeTheModel) {
    const LimitsLoad load = loadLimitsFile(VITALON_MODEL_LIMITS);
    ASSERT_TRUE(load.limits) << load.error;
    EXPECT_EQ(*load.limits, TestLimits{});
    EXPECT_NE(load.limits->description.find("module model"), std::string::npos);
}

TEST(TestLimits, WrittenLimitsReadBackTheSame) {
    TestLimits limits;
    limits.description = "bench 3, \"quoted\"";
    limits.calibration.heightCounts[2] = {70.5, 90.25};
    limits.leads.minBeats = 9;
    limits.reports.leadOffCheck = true;
    const LimitsLoad load = parseLimits(limitsToJson(limits));
    ASSERT_TRUE(load.limits) << load.error;
    EXPECT_EQ(*load.limits, limits);
}

// A complete file changes what it says and nothing else; a key left out is an
// error naming it, so that no limit silently takes the simulator's value.
TEST(TestLimits, EveryKeyIsNeededAndAKeyLeftOutIsNamed) {
    Json full = Json::parse(limitsToJson({}));
    full["leads"]["minBeats"] = 9;
    const LimitsLoad load = parseLimits(full.dump());
    ASSERT_TRUE(load.limits) << load.error;
    TestLimits expected;
    expected.leads.minBeats = 9;
    EXPECT_EQ(*load.limits, expected);

    for (const std::string& path : leafPaths(Json::parse(limitsToJson({})))) {
        if (path == "format") {
            continue;  // the header may be left out; "version" may not
        }
        Json without = Json::parse(limitsToJson({}));
        erase(without, path);
        const LimitsLoad missing = parseLimits(without.dump());
        EXPECT_FALSE(missing.limits) << path;
        EXPECT_EQ(missing.error, path + ": missing") << path;
    }
    // A range needs both ends: an open end would accept anything on its side.
    Json open = Json::parse(limitsToJson({}));
    open["calibration"]["heightCounts"][1].erase("max");
    EXPECT_EQ(parseLimits(open.dump()).error, "calibration.heightCounts[1].max: missing");
    // Unknown keys are named first, even with keys missing.
    EXPECT_NE(parseLimits(withHeader(R"("leads": {"minBeat": 3})")).error.find("leads.minBeat"),
              std::string::npos);
}

TEST(TestLimits, NameAndRevisionAreNeededAndTheFileIsIdentifiedByItsSha256) {
    for (const char* key : {"name", "revision"}) {
        Json empty = Json::parse(limitsToJson({}));
        empty[key] = "";
        EXPECT_EQ(parseLimits(empty.dump()).error, std::string(key) + ": must not be empty");
    }
    std::ifstream file(VITALON_MODEL_LIMITS, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    const LimitsLoad shipped = loadLimitsFile(VITALON_MODEL_LIMITS);
    ASSERT_TRUE(shipped.limits) << shipped.error;
    EXPECT_EQ(shipped.limits->name, "vitalon-sim module model");
    EXPECT_EQ(shipped.limits->revision, "1");
    EXPECT_EQ(shipped.limits->sha256, sha256Hex(text));
    EXPECT_TRUE(TestLimits{}.sha256.empty()) << "the built-in limits come from no file";
    // One byte more (a space) is another file, with the same limits.
    const LimitsLoad spaced = parseLimits(text + " ");
    ASSERT_TRUE(spaced.limits);
    EXPECT_NE(spaced.limits->sha256, shipped.limits->sha256);
    EXPECT_EQ(*spaced.limits, *shipped.limits);
}

TEST(TestLimits, Sha256MatchesTheStandardsTestVectors) {
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first block.
    EXPECT_EQ(sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha256Hex(std::string(1'000'000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Every value has a floor and a ceiling: just outside is refused naming the
// key and its bounds, the bounds themselves (unless "above") are accepted.
TEST(TestLimits, EveryValueHasAFloorAndACeiling) {
    std::set<std::string> bounded;
    for (const LimitBounds& b : limitBounds()) {
        bounded.insert(b.key);
        Json base = Json::parse(limitsToJson({}));
        if (b.key == "bench.axisDegrees") {
            // Any axis within its bounds, with lead ratios that allow every one.
            base["leads"]["leadIRatio"] = {{"min", -10.0}, {"max", 10.0}};
            base["leads"]["leadIIIRatio"] = {{"min", -10.0}, {"max", 10.0}};
        }
        Json* at = &base;
        for (const std::string& part : split(b.key)) {
            at = &(*at)[part];
        }
        // A range's ends each keep to the bounds; other values are plain.
        const auto set = [&](Json& doc, double value) {
            Json* target = &doc;
            for (const std::string& part : split(b.key)) {
                target = &(*target)[part];
            }
            if (target->is_array()) {
                (*target)[0] = {{"min", value}, {"max", value}};
            } else if (target->is_object()) {
                // One end moves to the value, so that the range stays a range
                // and keeps inside it what other keys (the bench's axis) need.
                if (value <= (*target)["min"].get<double>()) {
                    (*target)["min"] = value;
                } else if (value >= (*target)["max"].get<double>()) {
                    (*target)["max"] = value;
                } else {
                    *target = {{"min", value}, {"max", value}};
                }
            } else if (target->is_number_integer()) {
                *target = static_cast<long long>(value);
            } else {
                *target = value;
            }
        };
        const bool whole = at->is_number_integer();
        const double step = whole ? 1.0 : 1e-6 * std::max(1.0, b.ceiling);
        for (const double outside : {b.aboveFloor ? b.floor : b.floor - step, b.ceiling + step}) {
            Json bad = base;
            set(bad, outside);
            const LimitsLoad load = parseLimits(bad.dump());
            EXPECT_FALSE(load.limits) << b.key << " " << outside;
            EXPECT_NE(load.error.find(b.key), std::string::npos) << load.error;
        }
        for (const double inside : {b.aboveFloor ? b.floor + step : b.floor, b.ceiling}) {
            Json good = base;
            set(good, inside);
            const LimitsLoad load = parseLimits(good.dump());
            EXPECT_TRUE(load.limits) << b.key << " " << inside << ": " << load.error;
        }
    }
    // And every number of the format is bounded.
    for (const std::string& path : leafPaths(Json::parse(limitsToJson({})))) {
        const std::string key = rangeKey(path);
        const Json leaf = at(Json::parse(limitsToJson({})), path);
        if (leaf.is_number()) {
            EXPECT_TRUE(key == "version" || bounded.contains(key)) << key;
        }
    }
}

// The lead ratios must allow what the bench's heart axis gives; where lead II
// is too small to divide by, they are not judged and any range will do.
TEST(TestLimits, LeadRatiosMustFitTheBenchAxis) {
    Json doc = Json::parse(limitsToJson({}));
    doc["bench"]["axisDegrees"] = 15.0;  // I/II = cos 15 / cos 45 = 1.37
    LimitsLoad load = parseLimits(doc.dump());
    ASSERT_FALSE(load.limits);
    EXPECT_NE(load.error.find("leads.leadIRatio"), std::string::npos) << load.error;
    EXPECT_NE(load.error.find("1.37"), std::string::npos) << load.error;
    EXPECT_NE(load.error.find("bench.axisDegrees 15"), std::string::npos) << load.error;

    doc["leads"]["leadIRatio"] = {{"min", 1.1}, {"max", 1.6}};
    doc["leads"]["leadIIIRatio"] = {{"min", -0.2}, {"max", 0.2}};  // cos 105 / cos 45 = -0.37
    load = parseLimits(doc.dump());
    ASSERT_FALSE(load.limits);
    EXPECT_NE(load.error.find("leads.leadIIIRatio"), std::string::npos) << load.error;
    doc["leads"]["leadIIIRatio"] = {{"min", -0.6}, {"max", -0.1}};
    EXPECT_TRUE(parseLimits(doc.dump()).limits);

    doc["bench"]["axisDegrees"] = -30.0;  // lead II at right angles: the ratios are not judged
    EXPECT_TRUE(parseLimits(doc.dump()).limits);
}

// The limits document states every floor and ceiling as the parser has them.
TEST(TestLimits, DocumentationStatesEveryFloorAndCeiling) {
    std::ifstream file(VITALON_LIMITS_DOC);
    const std::string doc((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(doc.empty());
    const auto shown = [](double v) {
        std::ostringstream text;
        text << v;
        return text.str();
    };
    for (const LimitBounds& b : limitBounds()) {
        const std::string row = "| `" + b.key + "` | " + (b.aboveFloor ? "above " : "") +
                                shown(b.floor) + " | " + shown(b.ceiling) + " |";
        EXPECT_NE(doc.find(row), std::string::npos) << row;
    }
}

TEST(TestLimits, MistakesAreRefusedWithTheKeyNamed) {
    struct Case {
        std::string json;
        std::string error;
    };
    const Case cases[] = {
        {"{\"version\": 1,", "not JSON"},
        {"[1]", "must be an object"},
        {R"({"format": "vitalon-module-test-limits"})", "version: missing"},
        {R"({"version": 2})", "version: 2 is not supported"},
        {R"({"format": "other", "version": 1})", "format: \"other\""},
        {withHeader(R"("sampelRate": {})"), "sampelRate: unknown key"},
        {withHeader(R"("leads": {"minBeat": 3})"), "leads.minBeat: unknown key"},
        {withHeader(R"("settleSeconds": "1")"), "settleSeconds: must be a number"},
        {withHeader(R"("sampleRate": {"measureSeconds": 0})"),
         "sampleRate.measureSeconds: must be above 0"},
        {withHeader(R"("leads": {"minBeats": 2.5})"), "leads.minBeats: must be a whole number"},
        {withHeader(R"("reports": {"leadOffCheck": 1})"),
         "reports.leadOffCheck: must be true or false"},
        {withHeader(R"("calibration": {"widthSeconds": {"min": 0.3, "max": 0.2}})"),
         "calibration.widthSeconds: min is above max"},
        {withHeader(R"("calibration": {"heightCounts": [{"min": 1, "max": 2}]})"),
         "calibration.heightCounts: must be a list of 3 ranges"},
        {withHeader(R"("calibration": {"heightCounts": [{}, {}, {"max": "x"}]})"),
         "calibration.heightCounts[2].max: must be a number"},
    };
    for (const Case& c : cases) {
        const LimitsLoad load = parseLimits(c.json);
        EXPECT_FALSE(load.limits) << c.json;
        EXPECT_NE(load.error.find(c.error), std::string::npos) << c.json << "\n" << load.error;
    }
    const LimitsLoad missing = loadLimitsFile("/nonexistent/limits.json");
    EXPECT_EQ(missing.error, "/nonexistent/limits.json: cannot be read");
}

// Values no bench can mean are refused with the key named, before they turn
// into a time left of -9223372036854775808 s or a wait of centuries.
TEST(TestLimits, AbsurdValuesAreRefusedWithTheKeyAndTheRange) {
    struct Case {
        std::string json;
        std::string error;
    };
    const Case cases[] = {
        {withHeader(R"("sampleRate": {"measureSeconds": 1e300})"),
         "sampleRate.measureSeconds: must be above 0 and at most 600"},
        {withHeader(R"("settleSeconds": 1e9)"), "settleSeconds: must be from 0 to 60"},
        {withHeader(R"("reports": {"promptTimeoutSeconds": 86400})"),
         "reports.promptTimeoutSeconds: must be above 0 and at most 3600"},
        {withHeader(R"("sampleRate": {"tolerancePercent": 250})"),
         "sampleRate.tolerancePercent: must be above 0 and at most 10"},
        {withHeader(R"("simulation": {"heartRate": 1e6})"),
         "simulation.heartRate: must be above 0 and at most 600"},
        {withHeader(R"("leads": {"minBeats": 20000})"),
         "leads.minBeats: must be a whole number from 8 to 10000"},
        // Values that would make their check vacuous.
        {withHeader(R"("leads": {"minBeats": 0})"),
         "leads.minBeats: must be a whole number from 8 to 10000"},
        {withHeader(R"("reports": {"minRespirationReports": 0})"),
         "reports.minRespirationReports: must be a whole number from 1 to 10000"},
        {withHeader(R"("reports": {"rateToleranceBpm": 0})"),
         "reports.rateToleranceBpm: must be above 0 and at most 30"},
        {withHeader(R"("marginalFraction": 0.9)"), "marginalFraction: must be from 0 to 0.5"},
        {withHeader(R"("link": {"maxErrors": 1001})"),
         "link.maxErrors: must be a whole number from 0 to 1000"},
        {withHeader(R"("link": {"maxErrors": -1})"),
         "link.maxErrors: must be a whole number from 0 to 1000"},
        {withHeader(R"("calibration": {"widthSeconds": {"min": -1e300, "max": 0.2}})"),
         "calibration.widthSeconds.min: must be a number from -1e+06 to 1e+06"},
    };
    for (const Case& c : cases) {
        const LimitsLoad load = parseLimits(c.json);
        EXPECT_FALSE(load.limits) << c.json;
        EXPECT_NE(load.error.find(c.error), std::string::npos) << c.json << "\n" << load.error;
    }
    // The largest allowed values are accepted.
    TestLimits limits;
    limits.sampleRate.measureSeconds = 600;
    limits.sampleRate.tolerancePercent = 10;
    limits.reports.promptTimeoutSeconds = 3600;
    const LimitsLoad largest = parseLimits(limitsToJson(limits));
    EXPECT_TRUE(largest.limits) << largest.error;
}

}  // namespace
}  // namespace vitalon::analysis
