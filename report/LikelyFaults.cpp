#include "LikelyFaults.h"

#include <utility>

namespace vitalon::report {

namespace {

// The first pattern that fits wins, so a specific identifier comes before
// the pattern that would also fit it.
constexpr std::pair<std::string_view, std::string_view> kFaults[] = {
    {"link.write", "cable unplugged, wrong port, or the adapter's driver failing?"},
    {"link.first-sample", "no module on the port, module without power, or wrong line speed?"},
    {"link.status", "the module reports a fault of its own at start (lead off, internal error)?"},
    {"*.link-errors", "loose or noisy cable, or a failing USB-serial adapter?"},
    {"link.errors", "loose or noisy cable, or a failing USB-serial adapter?"},
    {"*.gap", "the module or the adapter stalls: loose cable, USB power saving?"},
    {"rate.*", "the module's sample clock is off, or it ignores the speed command?"},
    {"cal.*.height", "an amplifier gain stage is faulty, or the amplification command is ignored?"},
    {"cal.*.width", "the calibration pulse generator's timing is off?"},
    {"cal.*.droop", "a leaky coupling capacitor in the input stage (the pulse droops)?"},
    {"cal.*.baseline", "an offset in the input stage (baseline away from its place)?"},
    {"cal.baseline", "an offset in the input stage (baseline away from its place)?"},
    {"cal.ratio.*", "one amplification step is faulty, or an amplification command is ignored?"},
    {"cal.rail", "the input saturates: an amplifier offset or a gain set too high?"},
    {"leads.*.beats", "an open electrode input or lead wire for that lead?"},
    {"leads.einthoven", "lead wiring crossed, or one lead's gain is wrong?"},
    {"leads.i.ratio", "leads I and III swapped, or the lead command is ignored?"},
    {"leads.iii.ratio", "leads I and III swapped, or the lead command is ignored?"},
    {"leads.*.noise", "a noisy input stage or a poorly shielded lead wire on that lead?"},
    {"noise.*", "a noisy input stage or a poorly shielded lead wire on that lead?"},
    {"leads.*.axis", "leads swapped, or the bench's patient simulator set to another axis?"},
    {"leads.axis", "leads swapped, or the bench's patient simulator set to another axis?"},
    {"mains.hum", "the mains filter stays on, or the bench carries no hum?"},
    {"mains.50hz.suppression",
     "the 50 Hz notch filter is faulty, or the command \"5\" is ignored?"},
    {"mains.60hz.suppression",
     "the 60 Hz notch filter is faulty, or the command \"6\" is ignored?"},
    {"sim.pulse.reports", "the pulse detector does not follow the test signal in simulation mode?"},
    {"sim.pulse.reports.*",
     "the pulse detector does not follow the test signal in simulation mode?"},
    {"sim.resp.reports",
     "the respiration reports do not follow the test signal in simulation mode?"},
    {"sim.resp.reports.*",
     "the respiration reports do not follow the test signal in simulation mode?"},
    {"sim.return", "\"N\" is ignored: the module stays on its test signal?"},
    {"sim.*",
     "simulation mode is ignored: \"M\" does not switch to the test signal, or \"N\" "
     "does not switch back?"},
    {"pulse.rhythm",
     "the ECG is not the bench's patient: simulation mode stuck on, or the bench "
     "profile does not describe the patient simulator?"},
    {"pulse.amplitude",
     "the ECG input's gain is off while the calibration is right: the input "
     "stage or the lead wires?"},
    {"pulse.reports.count", "too few pulse reports: the pulse detector is dead or drops beats?"},
    {"pulse.reports", "the pulse detector is faulty: wrong or intermittent pulse reports?"},
    {"pulse.reports.*", "the pulse detector is faulty: wrong or intermittent pulse reports?"},
    {"resp.reports.count", "no respiration reports: the channel is dead or \"D1\" is ignored?"},
    {"resp.*", "the respiration channel is faulty, or the curve command \"D1\" is ignored?"},
    {"resp.*.*", "the respiration channel is faulty, or the curve command \"D1\" is ignored?"},
    {"curve.*", "the curve command \"D\" is ignored?"},
    {"status.lead-off", "the lead-off detection is faulty (or the electrode was not taken off)?"},
    {"status.lead-on", "the module does not clear its lead-off report (electrode put back?)"},
    {"prompt.confirmed", "the prompt was not confirmed in time (not a module fault)?"},
    {"status.interval", "the module stops sending status reports now and then?"},
    {"restore.commands", "cable or adapter failing: the start commands could not be written?"},
    {"restore.*",
     "the module does not take the start commands again after the test, or a "
     "lasting fault that the earlier steps show too?"},
    {"restore.*.*",
     "the module does not take the start commands again after the test, or a "
     "lasting fault that the earlier steps show too?"},
};

// Whether `id` fits `pattern` word by word.
bool fits(std::string_view pattern, std::string_view id) {
    while (true) {
        const std::size_t patternDot = pattern.find('.');
        const std::size_t idDot = id.find('.');
        const std::string_view word = pattern.substr(0, patternDot);
        if (word != "*" && word != id.substr(0, idDot)) {
            return false;
        }
        if (patternDot == std::string_view::npos || idDot == std::string_view::npos) {
            return patternDot == idDot;
        }
        pattern.remove_prefix(patternDot + 1);
        id.remove_prefix(idDot + 1);
    }
}

}  // namespace

std::string_view likelyFault(std::string_view checkId) {
    if (checkId.empty()) {
        return {};
    }
    for (const auto& [pattern, fault] : kFaults) {
        if (fits(pattern, checkId)) {
            return fault;
        }
    }
    return {};
}

}  // namespace vitalon::report
