// libFuzzer target for replay across a chain of files: a recording whose rate
// changed continues in NAME-2.edf, NAME-3.edf, ..., each file naming the next
// in its last annotation. The input is up to four parts separated by
// kSeparator: the files chain.edf, chain-2.edf and chain-3.edf, and the
// annotation journal beside chain.edf (which makes the replay repair it
// first). loop.edf is a link to chain.edf, so a hostile name can reach a file
// under another path. It aborts when the replay serves a file twice, when it
// serves more than the files can hold or bytes the module never sends, and
// it fails by timeout when a chain never ends.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "EdfRepair.h"
#include "FileKind.h"
#include "ReplaySource.h"
#include "ReplayedSamples.h"

namespace {

using namespace vitalon::recording;

constexpr std::string_view kSeparator = "@@PART@@";
const char* const kParts[] = {"chain.edf", "chain-2.edf", "chain-3.edf", "chain.edf.annotations"};

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// A folder of this process for the files, made once and removed at exit.
const std::filesystem::path& folder() {
    static const std::filesystem::path path = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vitalon-chain-fuzz-XXXXXX").string();
        check(mkdtemp(pattern.data()) != nullptr);
        std::filesystem::create_symlink("chain.edf", std::filesystem::path(pattern) / "loop.edf");
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(folder(), ec);
        });
        return std::filesystem::path(pattern);
    }();
    return path;
}

void writeParts(std::string_view input) {
    for (const char* name : kParts) {
        const auto path = folder() / name;
        std::error_code ec;
        std::filesystem::remove(path, ec);
        if (input.data() == nullptr) {
            continue;  // fewer parts than files
        }
        const auto end = input.find(kSeparator);
        std::ofstream(path, std::ios::binary) << input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view()
                                              : input.substr(end + kSeparator.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    writeParts(std::string_view(reinterpret_cast<const char*>(data), size));
    ReplaySource source;
    if (!source.open((folder() / kParts[0]).string()).empty()) {
        check(source.finished());
        return 0;
    }
    // Three minutes of replay, in steps of a third of a second; each advance
    // must return, whatever the chain.
    const std::size_t samples = vitalon::fuzz::replayedSamples(source, 540);
    // The files follow one another in time, at most 300 a second each, and
    // every file is served at most once.
    const auto& played = source.playedFiles();
    check(samples <= 300 * 180 + played.size());
    check(played.size() <= 3);
    for (std::size_t i = 0; i < played.size(); ++i) {
        for (std::size_t j = i + 1; j < played.size(); ++j) {
            check(!sameFile(played[i], played[j]));
        }
    }
    if (source.finished()) {
        std::vector<std::uint8_t> out;
        source.advance(std::chrono::hours(24), out);
        check(out.empty());
    }
    return 0;
}
