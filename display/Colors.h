#pragma once

#include <cstdint>

namespace vitalon::colors {

// 32-bit colour values: 0x00BBGGRR with the top bit clear; with the top bit
// set the low byte is a system colour index, resolved by the platform layer.
inline constexpr std::uint32_t SystemFlag = 0x80000000u;
inline constexpr std::uint32_t MenuBackground = 0x80000004u;
inline constexpr std::uint32_t WindowBackground = 0x80000005u;
inline constexpr std::uint32_t Highlight = 0x8000000Du;
inline constexpr std::uint32_t AlarmBackground = 0x00C0C0FFu;
inline constexpr std::uint32_t PulseGreen = 0x0000C000u;
inline constexpr std::uint32_t RespOrange = 0x000080FFu;
inline constexpr std::uint32_t TitleGrey = 0x00404040u;

inline constexpr bool isSystem(std::uint32_t c) {
    return (c & SystemFlag) != 0;
}
inline constexpr std::uint8_t systemIndex(std::uint32_t c) {
    return static_cast<std::uint8_t>(c & 0xFFu);
}
inline constexpr std::uint8_t red(std::uint32_t c) {
    return static_cast<std::uint8_t>(c & 0xFFu);
}
inline constexpr std::uint8_t green(std::uint32_t c) {
    return static_cast<std::uint8_t>((c >> 8) & 0xFFu);
}
inline constexpr std::uint8_t blue(std::uint32_t c) {
    return static_cast<std::uint8_t>((c >> 16) & 0xFFu);
}

}  // namespace vitalon::colors
