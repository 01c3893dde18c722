#include "PrivateDesign.h"
#include "QtDialogs.h"
#include "Runner.h"
#include "Startup.h"
#include "ToolFolders.h"

#include <QApplication>
#include <QCoreApplication>
#include <QStyleFactory>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Options ask for the windowless runner: no GUI platform, no single-instance lock.
    if (comkeys::cli::isRunnerCommand(argc, argv)) {
        QCoreApplication app(argc, argv);
        const comkeys::ToolFolders folders = comkeys::toolFolders(QCoreApplication::applicationDirPath());
        return comkeys::cli::run(QCoreApplication::arguments().mid(1),
                                 { comkeys::workingCopyPath(folders.keySets), folders.portLinks });
    }
    if (const QString missing = comkeys::missingDisplayMessage(); !missing.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(missing));
        return 1;
    }
    comkeys::beginPlatformGuard();
    QApplication app(argc, argv);
    comkeys::endPlatformGuard();
    QApplication::setApplicationName(comkeys::applicationTitle());
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    comkeys::installFontSubstitutions();

    comkeys::QtDialogs dialogs;
    comkeys::InstanceLock lock;
    if (!comkeys::runStartup(QApplication::arguments().mid(1), dialogs, lock)) {
        return 0;
    }
    comkeys::PrivateDesign window(dialogs, QApplication::applicationDirPath());
    dialogs.setParent(&window);
    window.show();
    return app.exec();
}
