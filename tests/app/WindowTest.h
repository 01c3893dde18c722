#pragma once

#include "DeviceSimulator.h"
#include "PrivateDesign.h"
#include "ScriptedDialogs.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace comkeys::test {

// The base of the tests that drive the real main window: each test gets a folder of its own
// (Modules/, Ports/), dialogs answered in-process and, when it asks, a simulated device linked
// as Ports/COM1.
class WindowTest : public QObject {
protected:
    // A fresh window over a fresh folder, shown and active; the user's options start cleared.
    void openWindow()
    {
        PrivateDesign::userSettings().clear();
        m_dir = std::make_unique<QTemporaryDir>();
        QDir(m_dir->path()).mkdir(QStringLiteral("Modules"));
        QDir(m_dir->path()).mkdir(QStringLiteral("Ports"));
        m_dialogs = std::make_unique<ScriptedDialogs>();
        m_window = std::make_unique<PrivateDesign>(*m_dialogs, m_dir->path());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }

    void closeWindow()
    {
        m_window.reset();
        m_sim.reset();
    }

    // Opens COM1 on a simulated device (made on first use) and checks the status shows it.
    void openOnSimulator()
    {
        if (!m_sim) {
            m_sim = std::make_unique<DeviceSimulator>();
            QVERIFY(m_sim->start());
            QVERIFY(QFile::link(m_sim->devicePath(), m_dir->filePath(QStringLiteral("Ports/COM1"))));
        }
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("SaveCmd_3")), Qt::LeftButton);
        QVERIFY(m_window->uart().PortOpen());
        QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("ConnectLab"))->palette().color(QPalette::WindowText), QColor(0, 128, 0));
        QCOMPARE(m_window->findChild<StatusCircle*>(QStringLiteral("Shape1"))->fillColor(), QColor(0, 255, 0));
    }

    // Key1 holds "AT" and every send gets its carriage return.
    void setUpAT()
    {
        m_window->keyText(0)->setText(QStringLiteral("\"AT\""));
        m_window->findChild<QCheckBox*>(QStringLiteral("Enter_Check"))->setChecked(true);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<PrivateDesign> m_window;
    std::unique_ptr<DeviceSimulator> m_sim;
};

} // namespace comkeys::test
