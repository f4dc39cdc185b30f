// The yardstick of desktop-bench.sh: about the least a Qt 6 tray program
// with a window can be. A status item whose click shows or hides a small
// window of ordinary widgets.
#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QWidget window(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Drop a file here"), &window));
    auto *quit = new QPushButton(QStringLiteral("Quit"), &window);
    layout->addWidget(quit);
    QObject::connect(quit, &QPushButton::clicked, &app, &QApplication::quit);
    window.resize(320, 200);

    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::darkBlue);
    QSystemTrayIcon icon{QIcon(pixmap)};
    QObject::connect(
        &icon, &QSystemTrayIcon::activated, &window,
        [&window](QSystemTrayIcon::ActivationReason) { window.setVisible(!window.isVisible()); });
    icon.show();
    return app.exec();
}
