#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// What the host knows of the module's serial protocol: the bytes it sends
// and the commands it takes. The module model in sim/ implements the other
// side of the same protocol.
namespace vitalon::protocol {

// Received stream. A byte below kFirstMarker is a waveform sample; 248 and
// above are never samples. A marker's value is the byte after it, whatever it is.
inline constexpr std::uint8_t kMaxSample = 247;
inline constexpr std::uint8_t kFirstMarker = 248;
inline constexpr std::uint8_t kRespirationMarker = 249;  // next byte: breaths per minute
inline constexpr std::uint8_t kPulseMarker = 250;        // next byte: beats per minute
inline constexpr std::uint8_t kStatusMarker = 251;       // next byte: status code

// Status codes.
inline constexpr std::uint8_t kStatusOk = 0;
inline constexpr std::uint8_t kStatusLeadOff = 17;

// Command letters. S, A, G and D take one digit; the others stand alone.
inline constexpr char kSpeedCommand = 'S';          // S1 100/s, S2 50/s, S0 300/s
inline constexpr char kAmplificationCommand = 'A';  // A0, A1, A2
inline constexpr char kLeadCommand = 'G';           // G2 lead I, G1 lead II, G0 lead III
inline constexpr char kCurveCommand = 'D';          // D0 ECG, D1 respiration curve
inline constexpr char kFilter50HzCommand = '5';
inline constexpr char kFilter60HzCommand = '6';
inline constexpr char kNormalModeCommand = 'N';
inline constexpr char kSimulationModeCommand = 'M';
inline constexpr char kCalibrateCommand = 'C';

// The commands that put the module into the known start state, in the order
// they are sent, one write each.
inline constexpr std::array<std::string_view, 6> kStartCommands = {"S1", "A1", "5",
                                                                   "N",  "G1", "D0"};

}  // namespace vitalon::protocol
