#include "RecordingOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#include "EdfRepair.h"

namespace vitalon {

void RecordingOptions::addTo(QCommandLineParser& parser) const {
    parser.addOption(record);
    parser.addOption(replay);
    parser.addOption(repair);
}

bool asksForRepair(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repair") == 0 || std::strncmp(argv[i], "--repair=", 9) == 0) {
            return true;
        }
    }
    return false;
}

int runRepair(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vitalon"));
    QCommandLineParser parser;
    const RecordingOptions options;
    parser.addOption(options.repair);
    if (!parser.parse(QCoreApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "vitalon: --repair FILE takes no other options or arguments\n");
        return 2;
    }
    const QStringList files = parser.values(options.repair);
    int code = 0;
    for (const QString& file : files) {
        const std::string path = file.toStdString();
        const recording::RepairResult result = recording::repairRecording(path);
        // A repair that left annotations out is not a success: the journal
        // that still holds them stays beside the file.
        if (result.outcome == recording::RepairResult::Outcome::Failed ||
            result.outcome == recording::RepairResult::Outcome::Incomplete) {
            // Some reasons name the file, the reader's do not.
            const bool named = result.message.find(path) != std::string::npos;
            std::fprintf(stderr, "vitalon: %s%s%s\n", named ? "" : path.c_str(), named ? "" : ": ",
                         result.message.c_str());
            code = 1;
        } else {
            std::printf("%s\n", result.message.c_str());
        }
    }
    return code;
}

}  // namespace vitalon
