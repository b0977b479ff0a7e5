#include "SelectorChannel.h"

namespace vitalon {

bool SelectorChannel::send(std::string_view command) {
    try {
        if (!selectors_.select(command)) {
            report_("\"" + std::string(command) + "\" is not a command of the module");
            return false;
        }
    } catch (const PortError& e) {
        report_(e.what());
        return false;
    }
    if (onSent) {
        onSent(command);
    }
    return true;
}

}  // namespace vitalon
