#include "RunConditions.h"

#include <cstdio>

namespace vitalon::analysis {

namespace {

// A C1 control character (U+0080 to U+009F) in UTF-8: 0xC2 then 0x80..0x9F.
bool isC1(std::string_view text, std::size_t at) {
    return at + 1 < text.size() && static_cast<unsigned char>(text[at]) == 0xC2 &&
           static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
           static_cast<unsigned char>(text[at + 1]) <= 0x9F;
}

bool isC0OrDelete(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

std::string hex(unsigned char c) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02x", c);
    return text;
}

}  // namespace

std::string commandLineRunProblem(const RunConditions& conditions) {
    if (conditions.production) {
        if (conditions.simulatedModule) {
            return "--production tests a module: it refuses --simulate and --replay, which "
                   "serve no module";
        }
        if (conditions.demonstration) {
            return "--production and --demonstration exclude each other";
        }
        if (conditions.builtInLimits) {
            return "--production needs --limits: the built-in limits describe the module "
                   "model, not a production module";
        }
        return {};
    }
    if (conditions.simulatedModule && !conditions.demonstration) {
        return "--simulate and --replay serve no module, so the module test would judge the "
               "simulation; give --demonstration to run it as a demonstration, whose report "
               "says \"" +
               std::string(kSimulatedModuleNotice) + "\"";
    }
    return {};
}

std::vector<std::string> runNotices(const RunConditions& conditions) {
    std::vector<std::string> notices;
    if (conditions.simulatedModule) {
        notices.emplace_back(kSimulatedModuleNotice);
    }
    if (conditions.builtInLimits) {
        notices.emplace_back(kDemonstrationLimitsNotice);
    }
    return notices;
}

std::string printable(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isC0OrDelete(c)) {
            shown += hex(c);
        } else if (isC1(text, i)) {
            shown += hex(static_cast<unsigned char>(text[++i]));
        } else if (c == '\\') {
            shown += "\\\\";
        } else {
            shown += text[i];
        }
    }
    return shown;
}

std::string typedTextProblem(std::string_view what, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isC0OrDelete(static_cast<unsigned char>(text[i])) || isC1(text, i)) {
            return "the " + std::string(what) + " \"" + printable(text) +
                   "\" contains a control character; type it without";
        }
    }
    return {};
}

}  // namespace vitalon::analysis
