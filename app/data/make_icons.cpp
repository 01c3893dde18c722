// Writes the application icon for the desktop's icon theme: comkeys.svg and comkeys-N.png, drawn
// by the same code as the window's own icon. Usage: comkeys-make-icons OUTPUT-FOLDER
#include "Widgets.h"

#include <QGuiApplication>
#include <QPainter>
#include <QSvgGenerator>

#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QSvgGenerator svg;
    svg.setFileName(folder + QStringLiteral("/comkeys.svg"));
    svg.setSize(QSize(32, 32));
    svg.setViewBox(QRect(0, 0, 32, 32));
    svg.setTitle(QStringLiteral("ComKeys"));
    {
        QPainter painter(&svg);
        comkeys::paintIcon(painter, 32, false);
    }
    for (int size : { 16, 22, 24, 32, 48, 64, 128, 256 }) {
        if (!comkeys::iconPixmap(size, false).save(folder + QStringLiteral("/comkeys-%1.png").arg(size))) {
            std::fprintf(stderr, "cannot write the %d-pixel icon\n", size);
            return 1;
        }
    }
    return 0;
}
