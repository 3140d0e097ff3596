// The smallest Qt 6 tray program: the yardstick for Quorvane's idle memory and system calls.

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::darkGreen);
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.show();
    return app.exec();
}
