// The Results window on a large store: from its creation to the table of every
// run painted, then a serial number's filter and one check's statistics
// through the window, each timed on the wall clock.
//
//   vitalon-bench-results-window --store=FILE [--repeat=N]
//
// FILE is a store that vitalon-bench-results generated and kept
// (vitalon-bench-results --store=FILE); it is only read.
#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ResultsModel.h"
#include "ResultsWindow.h"
#include "SqlResultsStore.h"

namespace {

// Notices the first paint of a widget.
class PaintWatch : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted = true;
        }
        return QObject::eventFilter(watched, event);
    }
};

struct Figures {
    std::vector<double> ms;

    void print(const char* what) {
        std::sort(ms.begin(), ms.end());
        std::printf("%-52s median %8.1f ms   min %8.1f   max %8.1f   (%zu runs)\n", what,
                    ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
    }
};

double elapsedMs(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QString file;
    int repeat = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--store=", 8) == 0) {
            file = QString::fromLocal8Bit(argv[i] + 8);
        } else if (std::strncmp(argv[i], "--repeat=", 9) == 0) {
            repeat = std::max(1, std::atoi(argv[i] + 9));
        } else {
            std::fprintf(stderr, "usage: vitalon-bench-results-window --store=FILE [--repeat=N]\n");
            return 2;
        }
    }
    if (file.isEmpty() || !QFileInfo::exists(file)) {
        std::fprintf(stderr,
                     "no store at \"%s\": make one with vitalon-bench-results --store=FILE\n",
                     qPrintable(file));
        return 2;
    }
    auto opened = vitalon::results::SqlResultsStore::openLocal(file);
    if (!opened.store) {
        std::fprintf(stderr, "%s\n", opened.error.c_str());
        return 1;
    }
    vitalon::results::SqlResultsStore& store = *opened.store;

    Figures read;
    Figures open;
    Figures serial;
    Figures statistics;
    int runs = 0;
    for (int i = 0; i < repeat; ++i) {
        QElapsedTimer timer;
        timer.start();
        // The store's part of the opening alone: every run read.
        if (const auto all = store.runs({}); !all.ok()) {
            std::fprintf(stderr, "%s\n", all.error.c_str());
            return 1;
        }
        read.ms.push_back(elapsedMs(timer));

        timer.restart();
        vitalon::ResultsWindow window(store);
        PaintWatch watch;
        auto* table = window.findChild<QTableView*>(QStringLiteral("runTable"));
        table->viewport()->installEventFilter(&watch);
        // As the Test menu opens it: every run of the store read, then shown.
        if (!window.applyFilter()) {
            std::fprintf(stderr, "%s\n", qPrintable(window.message()));
            return 1;
        }
        window.show();
        while (!watch.painted) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        open.ms.push_back(elapsedMs(timer));
        runs = window.model().rowCount();

        // A serial number from the middle of the store, as a technician types it.
        const std::string number = window.model().runAt(runs / 2).serialNumber;
        window.findChild<QLineEdit*>(QStringLiteral("filterSerial"))
            ->setText(QString::fromStdString(number));
        timer.restart();
        window.applyFilter();
        serial.ms.push_back(elapsedMs(timer));

        // The statistics of the newest run's first check over every run.
        window.findChild<QLineEdit*>(QStringLiteral("filterSerial"))->clear();
        window.applyFilter();
        window.openRun(0);
        auto answer = store.run(window.model().runAt(0).uuid);
        const QString check = answer.value && !answer.value->checks.empty()
                                  ? QString::fromStdString(answer.value->checks.front().checkId)
                                  : QString();
        timer.restart();
        window.showStatistics(check);
        statistics.ms.push_back(elapsedMs(timer));
    }
    std::printf("store: %s, %d runs\n", qPrintable(file), runs);
    read.print("store: every run read (part of the opening)");
    open.print("Results window opened, all runs, first paint");
    serial.print("filtered by one serial number (window)");
    statistics.print("one check's statistics over all runs (window)");
    return 0;
}
