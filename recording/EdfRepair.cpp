#include "EdfRepair.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "EdfReader.h"

namespace vitalon::recording {

namespace {

constexpr long long kUnitsPerSecond = 10000;  // journal onsets are in 100 us

using Key = std::pair<long long, std::string>;  // onset in 100 us from the start time, text

std::map<Key, std::uint64_t> readJournal(const std::string& path, double startOffset) {
    std::map<Key, std::uint64_t> entries;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        auto tab = line.find('\t');
        if (tab == std::string::npos || tab == 0 || tab > 18) {
            continue;  // a line cut by the crash, or not ours
        }
        long long onset = 0;
        auto [ptr, ec] = std::from_chars(line.data(), line.data() + tab, onset);
        if (ec != std::errc() || ptr != line.data() + tab || onset < 0) {
            continue;
        }
        long long fromStart = onset + std::llround(startOffset * kUnitsPerSecond);
        ++entries[{fromStart, line.substr(tab + 1)}];
    }
    return entries;
}

std::string onsetText(long long units) {
    // Appended, not "+" + ...: GCC 12 at -O3 reports a false -Wrestrict inside
    // operator+(const char*, std::string&&).
    std::string text = "+";
    text += std::to_string(units / kUnitsPerSecond);
    if (long long fraction = units % kUnitsPerSecond; fraction != 0) {
        std::string digits = std::to_string(fraction + kUnitsPerSecond).substr(1);
        while (digits.back() == '0') {
            digits.pop_back();
        }
        text += '.';
        text += digits;
    }
    return text;
}

}  // namespace

std::string journalPath(const std::string& edfPath) {
    return edfPath + ".annotations";
}

RepairResult repairRecording(const std::string& path) {
    RepairResult result;
    const std::string journal = journalPath(path);
    std::error_code ec;
    const bool hasJournal = std::filesystem::exists(journal, ec);

    EdfReader reader;
    if (auto problem = reader.open(path); !problem.empty()) {
        result.message = problem;
        return result;
    }
    const EdfHeader header = reader.header();
    result.records = header.recordsOnDisk;
    if (header.consistent() && !hasJournal) {
        result.outcome = RepairResult::Outcome::AlreadyConsistent;
        result.message = path + " needs no repair";
        return result;
    }
    const std::uint64_t records = header.recordsOnDisk;
    const std::uint64_t keepBytes = header.headerBytes + records * header.recordBytes;

    // Annotations already in the records, then the journal's that are missing.
    std::map<Key, std::uint64_t> inFile;
    std::vector<double> recordStarts(records);
    {
        EdfReader full;
        full.open(path);
        EdfRecord record;
        for (std::uint64_t r = 0; r < records; ++r) {
            // Read past a declared count that was too small: the bytes are there.
            if (r >= full.header().usableRecords) {
                recordStarts[r] = r ? recordStarts[r - 1] + header.recordSeconds : 0;
                continue;
            }
            if (!full.readAnnotations(r, record)) {
                result.message = path + " could not be read";
                return result;
            }
            recordStarts[r] =
                record.hasTimekeeping ? record.start : double(r) * header.recordSeconds;
            for (const auto& a : record.annotations) {
                ++inFile[{std::llround(a.onset * kUnitsPerSecond), a.text}];
            }
        }
    }
    const double startOffset = records ? recordStarts[0] : 0.0;
    std::map<Key, std::uint64_t> merged = inFile;
    std::uint64_t restored = 0;
    if (hasJournal) {
        for (const auto& [key, count] : readJournal(journal, startOffset)) {
            auto& have = merged[key];
            if (count > have) {
                restored += count - have;
                have = count;
            }
        }
    }

    std::error_code resizeError;
    if (header.fileBytes != keepBytes) {
        std::filesystem::resize_file(path, keepBytes, resizeError);
        if (resizeError) {
            result.message =
                path + " could not be cut to its complete records (" + resizeError.message() + ")";
            return result;
        }
    }
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file) {
        result.message = path + " cannot be opened for writing";
        return result;
    }
    std::string count = std::to_string(records);
    count.resize(8, ' ');
    file.seekp(236);
    file.write(count.data(), 8);

    if (restored > 0) {
        // Rewrite the annotation space of every record: its timekeeping entry,
        // then as many entries, in onset order, as fit.
        std::vector<std::pair<Key, std::uint64_t>> pending(merged.begin(), merged.end());
        std::size_t next = 0;
        std::uint64_t placed = 0;
        for (std::uint64_t r = 0; r < records; ++r) {
            bool first = true;
            for (const EdfSignal& s : header.signalList) {
                if (!s.annotations) {
                    continue;
                }
                std::string slot;
                const std::size_t room = s.samplesPerRecord * 2ULL;
                if (first) {
                    slot = onsetText(std::llround(recordStarts[r] * kUnitsPerSecond)) + "\x14\x14" +
                           std::string(1, '\0');
                    first = false;
                }
                while (next < pending.size()) {
                    const auto& [key, times] = pending[next];
                    std::string tal =
                        onsetText(key.first) + "\x14" + key.second + "\x14" + std::string(1, '\0');
                    if (slot.size() + tal.size() >= room) {
                        break;
                    }
                    slot += tal;
                    if (++placed == times) {
                        ++next;
                        placed = 0;
                    } else {
                        continue;
                    }
                }
                if (slot.size() > room) {
                    continue;  // no room even for the timekeeping entry: leave it
                }
                slot.resize(room, '\0');
                file.seekp(static_cast<std::streamoff>(header.headerBytes + r * header.recordBytes +
                                                       s.offsetInRecord));
                file.write(slot.data(), static_cast<std::streamsize>(slot.size()));
            }
        }
    }
    file.flush();
    if (!file) {
        result.message = path + " could not be written";
        return result;
    }
    file.close();
    if (hasJournal) {
        std::filesystem::remove(journal, ec);
    }
    result.outcome = RepairResult::Outcome::Repaired;
    result.restoredAnnotations = restored;
    std::ostringstream message;
    message << path << " repaired: " << records << " complete seconds";
    if (restored) {
        message << ", " << restored << " annotations restored";
    }
    result.message = message.str();
    return result;
}

}  // namespace vitalon::recording
