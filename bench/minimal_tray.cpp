// The smallest Qt 6 tray program: the yardstick for Quorvane's idle memory and system calls
// (bench/idle.sh), and with a delay for the cost of its tick (bench/tick.sh): every DELAY
// seconds the icon changes to a second picture and straight back, as a tick changes
// Quorvane's picture to probing and back to waiting.
//   minimal_tray [DELAY]

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

QIcon Filled(const QColor& colour) {
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QIcon waiting = Filled(Qt::darkGreen);
    const QIcon probing = Filled(Qt::darkYellow);
    QSystemTrayIcon tray{waiting};
    tray.show();
    QTimer tick;
    const int nDelay = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 0;
    if (nDelay > 0) {
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            tray.setIcon(probing);
            tray.setIcon(waiting);
        });
        tick.start(nDelay * 1000);
    }
    return app.exec();
}
