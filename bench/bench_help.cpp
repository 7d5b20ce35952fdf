// Times Help Contents from the call to the first page painted in the viewer, for the real help
// file: a fresh viewer each round, so that every round starts the reader again.
//   bench_help [help file] [rounds]      (run it on a real X server, from a Release build)

#include "help/HelpViewer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextBrowser>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString file
        = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(OMBRIX_RUNTIME_DIR "/Ombrix_Converter_Help.chm");
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 20;
    const QString reader = QStringLiteral(OMBRIX_RUNTIME_DIR "/ombrix-help-reader");

    QWidget owner;
    owner.resize(400, 300);
    owner.show();
    while (!owner.windowHandle() || !owner.windowHandle()->isExposed())
        QApplication::processEvents(QEventLoop::AllEvents, 10);

    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        openHelpViewer(&owner, file, reader);
        auto *viewer = owner.findChild<QWidget *>(QStringLiteral("helpViewer"), Qt::FindDirectChildrenOnly);
        auto *browser = viewer ? viewer->findChild<QTextBrowser *>(QStringLiteral("helpBrowser")) : nullptr;
        if (!browser) {
            std::fprintf(stderr, "no viewer\n");
            return 1;
        }
        while (browser->source().isEmpty() || !viewer->windowHandle()->isExposed()) {
            if (timer.elapsed() > 10000) {
                std::fprintf(stderr, "no page after 10 s: %s\n", qPrintable(browser->toPlainText()));
                return 1;
            }
            QApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        viewer->repaint();
        times.push_back(timer.nsecsElapsed() / 1e6);
        viewer->close();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }
    std::sort(times.begin(), times.end());
    std::printf("F1 to first page, %d rounds: min %.1f ms, median %.1f ms, max %.1f ms\n", rounds, times.front(),
        times[times.size() / 2], times.back());
    return 0;
}
