#pragma once

#include "AutomationEngine.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace comkeys::cli {

// One step as it ran, with what the report needs beside the engine's result.
struct StepRecord {
    AutomationEngine::StepResult result;
    QString step; // the step as written ("expect 1000 next OK")
    bool isExpect = false;
    QString expected; // an expect's pattern as written
    QDateTime finished;
};

// A JUnit XML report: one testsuite per run of the sequence, one testcase per expect that ran,
// each failed or timed-out one with a failure saying what was expected and what came. It holds
// every element and attribute the common JUnit schema requires.
QByteArray junitReport(const QString& sequence, const QList<StepRecord>& steps, const QDateTime& started);

// One line of the step list on stdout: time, run:step, the step, what was sent, the reply (control
// bytes as <0D>), verdict, milliseconds; tab-separated.
QString stepLine(const StepRecord& record);

} // namespace comkeys::cli
