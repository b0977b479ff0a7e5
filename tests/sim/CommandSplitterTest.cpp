#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "CommandSplitter.h"
#include "ModuleModel.h"
#include "StartCommands.h"

namespace vitalon::sim {
namespace {

std::span<const std::uint8_t> bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::vector<std::string> texts(const std::vector<Command>& commands) {
    std::vector<std::string> out;
    for (const Command& c : commands) {
        out.push_back(c.text());
    }
    return out;
}

TEST(CommandSplitter, StartRunSplitsTheSameHoweverItIsChunked) {
    const std::string run = testing::startCommandBytes();
    const std::vector<std::string> expected = testing::startCommandList();
    const unsigned cuts = static_cast<unsigned>(run.size() - 1);
    for (unsigned mask = 0; mask < (1u << cuts); ++mask) {
        CommandSplitter splitter;
        std::vector<Command> got;
        std::size_t start = 0;
        for (unsigned i = 0; i < cuts; ++i) {
            if (mask & (1u << i)) {
                splitter.feed(bytes(std::string_view(run).substr(start, i + 1 - start)), got);
                start = i + 1;
            }
        }
        splitter.feed(bytes(std::string_view(run).substr(start)), got);
        ASSERT_EQ(texts(got), expected) << "cut mask " << mask;
        EXPECT_EQ(splitter.unknownBytes(), 0u);
        EXPECT_EQ(splitter.abandonedLetters(), 0u);
        EXPECT_FALSE(splitter.awaitingDigit());
    }
}

TEST(CommandSplitter, UnknownBytesAreSkippedAndCounted) {
    CommandSplitter splitter;
    const auto got =
        splitter.feed(bytes("S1\r\nx0A2s1\xff"
                            "C"));
    EXPECT_EQ(texts(got), (std::vector<std::string>{"S1", "A2", "C"}));
    // \r \n x 0 s 1 \xff: a stray digit or a lower-case letter starts no command.
    EXPECT_EQ(splitter.unknownBytes(), 7u);
}

TEST(CommandSplitter, LetterWithoutDigitIsDroppedAndTheNextByteStartsAfresh) {
    CommandSplitter splitter;
    EXPECT_EQ(texts(splitter.feed(bytes("SN"))), (std::vector<std::string>{"N"}));
    EXPECT_EQ(texts(splitter.feed(bytes("SS1"))), (std::vector<std::string>{"S1"}));
    EXPECT_EQ(texts(splitter.feed(bytes("GDA"))), std::vector<std::string>{});
    EXPECT_TRUE(splitter.awaitingDigit());
    // The letter held at the end of one read takes the digit of the next.
    EXPECT_EQ(texts(splitter.feed(bytes("2"))), (std::vector<std::string>{"A2"}));
    EXPECT_EQ(texts(splitter.feed(bytes("D?5"))), (std::vector<std::string>{"5"}));
    EXPECT_EQ(splitter.abandonedLetters(), 5u);  // S, S, G and D of "GDA", D of "D?"
    EXPECT_EQ(splitter.unknownBytes(), 1u);      // ?
}

TEST(ModuleCommands, OnlyExistingSettingsAreAccepted) {
    ModuleModel model;
    EXPECT_EQ(model.settings(), ModuleSettings{});  // power-on state
    model.receive("S7A9G3D2S");
    EXPECT_EQ(model.settings(), ModuleSettings{});
    EXPECT_EQ(model.counters().rejectedCommands, 4u);
    model.receive("0A2G2D16MC");
    const ModuleSettings expected{300, 2, 60, true, Lead::I, Curve::Respiration};
    EXPECT_EQ(model.settings(), expected);
    EXPECT_EQ(model.counters().commands, 7u);
}

}  // namespace
}  // namespace vitalon::sim
