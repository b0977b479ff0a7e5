#include "EdfRepair.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "Annotations.h"
#include "EdfReader.h"
#include "FileKind.h"

namespace vitalon::recording {

namespace {

constexpr long long kUnitsPerSecond = 10000;  // journal onsets are in 100 us

// One annotation: onset in 100 us from the file's start time, and its text.
using Entry = std::pair<long long, std::string>;

// The journal's entries in the order they were written. Texts are kept to
// what an annotation may hold, so that a foreign line cannot break the
// structure of the records it is written into.
std::vector<Entry> readJournal(const std::string& path, double startOffset) {
    std::vector<Entry> entries;
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
        std::string text = fitAnnotation(std::string_view(line).substr(tab + 1));
        if (text.empty()) {
            continue;  // an empty text is no annotation
        }
        long long fromStart = onset + std::llround(startOffset * kUnitsPerSecond);
        entries.emplace_back(fromStart, std::move(text));
    }
    return entries;
}

// Every annotation of the file's records, in record order.
std::optional<std::vector<Entry>> readAnnotations(const std::string& path) {
    EdfReader reader;
    if (!reader.open(path).empty()) {
        return std::nullopt;
    }
    std::vector<Entry> entries;
    EdfRecord record;
    for (std::uint64_t r = 0; r < reader.header().usableRecords; ++r) {
        if (!reader.readAnnotations(r, record)) {
            return std::nullopt;
        }
        for (const auto& a : record.annotations) {
            entries.emplace_back(std::llround(a.onset * kUnitsPerSecond), a.text);
        }
    }
    return entries;
}

// How many of `wanted` (counted with repeats) are missing from `have`.
std::uint64_t missingFrom(const std::vector<Entry>& have, const std::vector<Entry>& wanted) {
    std::map<Entry, std::uint64_t> count;
    for (const auto& e : have) {
        ++count[e];
    }
    std::uint64_t missing = 0;
    for (const auto& e : wanted) {
        auto it = count.find(e);
        if (it == count.end() || it->second == 0) {
            ++missing;
        } else {
            --it->second;
        }
    }
    return missing;
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
    // Refused before any open: a FIFO would block it until a writer came.
    if (auto problem = notRegularFileProblem(path, false); !problem.empty()) {
        result.message = problem + "; nothing was repaired";
        return result;
    }
    const std::string journal = journalPath(path);
    std::error_code ec;
    const bool hasJournal = std::filesystem::exists(journal, ec);
    if (hasJournal) {
        if (auto problem = notRegularFileProblem(journal, false); !problem.empty()) {
            result.message = problem +
                             ", so it cannot be a journal of annotations; nothing was "
                             "repaired";
            return result;
        }
    }

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

    // Annotations already in the records, in their order.
    std::vector<Entry> inFile;
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
                inFile.emplace_back(std::llround(a.onset * kUnitsPerSecond), a.text);
            }
        }
    }
    const double startOffset = records ? recordStarts[0] : 0.0;
    // What the file should hold: the journal's entries in the journal's order
    // (several at one onset keep the order they happened in, e.g. two
    // commands), then those of the file that the journal lacks, all by onset.
    const std::vector<Entry> journalEntries =
        hasJournal ? readJournal(journal, startOffset) : std::vector<Entry>{};
    std::vector<Entry> merged = journalEntries;
    {
        std::map<Entry, std::uint64_t> inJournal;
        for (const auto& e : journalEntries) {
            ++inJournal[e];
        }
        for (const auto& e : inFile) {
            if (auto it = inJournal.find(e); it != inJournal.end() && it->second > 0) {
                --it->second;
            } else {
                merged.push_back(e);
            }
        }
    }
    std::stable_sort(merged.begin(), merged.end(),
                     [](const Entry& a, const Entry& b) { return a.first < b.first; });
    const std::uint64_t missingBefore = missingFrom(inFile, journalEntries);

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

    if (missingBefore > 0) {
        // Rewrite the annotation space of every record: its timekeeping entry,
        // then as many entries, in order, as fit.
        std::size_t next = 0;
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
                for (; next < merged.size(); ++next) {
                    const auto& [onset, text] = merged[next];
                    std::string tal =
                        onsetText(onset) + "\x14" + text + "\x14" + std::string(1, '\0');
                    if (slot.size() + tal.size() >= room) {
                        break;
                    }
                    slot += tal;
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

    // The journal goes only once the file, read back, holds all of it.
    const auto written = readAnnotations(path);
    const std::uint64_t lost = written ? missingFrom(*written, merged) : merged.size();
    const std::uint64_t missingAfter =
        written ? missingFrom(*written, journalEntries) : journalEntries.size();
    result.restoredAnnotations = missingBefore > missingAfter ? missingBefore - missingAfter : 0;
    std::ostringstream message;
    message << path << " repaired: " << records << " complete seconds";
    if (result.restoredAnnotations) {
        message << ", " << result.restoredAnnotations << " annotations restored";
    }
    if (lost > 0 || !written) {
        result.outcome = RepairResult::Outcome::Incomplete;
        if (!written) {
            message << "; it could not be read back to check its annotations";
        } else {
            message << "; " << lost << " of " << merged.size()
                    << " annotations did not fit into the file";
        }
        if (hasJournal) {
            message << " (all are kept in " << journal << ")";
        }
    } else {
        result.outcome = RepairResult::Outcome::Repaired;
        if (hasJournal) {
            std::filesystem::remove(journal, ec);
        }
    }
    result.message = message.str();
    return result;
}

}  // namespace vitalon::recording
