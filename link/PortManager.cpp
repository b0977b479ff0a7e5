#include "PortManager.h"

namespace vitalon {

std::uint8_t PortManager::FindComPort() {
    std::uint8_t result = 0;
    failures_ = {};
    for (std::uint8_t n = 1; n <= 8; ++n) {
        // A failing step disables the item and the probe goes on with the next step.
        auto& failure = failures_[static_cast<std::size_t>(n - 1)];
        const auto step = [&](auto&& action) {
            try {
                action();
            } catch (const PortError& e) {
                item(n).Enabled(false);
                if (!failure) {
                    failure = e;
                }
            } catch (const std::exception& e) {
                item(n).Enabled(false);
                if (!failure) {
                    failure = PortError(PortErrorKind::Other, e.what());
                }
            }
        };
        step([&] { port_.CommPort(static_cast<std::int16_t>(n)); });
        step([&] { port_.PortOpen(true); });
        step([&] {
            if (result == 0 && port_.PortOpen()) {
                result = n;
            }
        });
        step([&] { port_.PortOpen(false); });
    }
    return result;
}

void PortManager::configure(std::uint8_t n) {
    port_.CommPort(static_cast<std::int16_t>(n));
    port_.Settings(LineSettingsText);
    port_.InputMode(1);
    port_.RThreshold(1);
    port_.SThreshold(1);
    port_.PortOpen(true);
}

void PortManager::OpenComPort(std::uint8_t n) {
    port_.PortOpen(false);
    configure(n);
}

void PortManager::ClearPortChecks() {
    for (MenuItem* i : items_) {
        i->Checked(false);
    }
}

void PortManager::setCOM_Click(std::uint8_t n) {
    if (n < 1 || n > 8 || !item(n).Enabled()) {
        return;  // a disabled item cannot be chosen
    }
    OpenComPort(n);
    ClearPortChecks();
    item(n).Checked(true);
}

void PortManager::closeAtShutdown() {
    if (port_.PortOpen()) {
        port_.PortOpen(false);
    }
}

}  // namespace vitalon
