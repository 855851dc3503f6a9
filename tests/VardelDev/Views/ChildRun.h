#pragma once

// Runs this test program again, for checks that need another platform setting than the one this process
// started with (a scale factor, a real X server with a tray).

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include <string>

namespace vardel::test {

struct ChildRun {
    int code = -1;
    std::string output;
};

// `filter` selects the tests (disabled ones included); `wrapper` goes in front of the program, if any.
inline ChildRun runChild(const QString& filter, const QProcessEnvironment& env, QStringList wrapper = {})
{
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    wrapper << QCoreApplication::applicationFilePath() << "--gtest_also_run_disabled_tests"
            << "--gtest_filter=" + filter;
    child.start(wrapper.takeFirst(), wrapper);
    if (!child.waitForFinished(180000))
        child.kill();
    child.waitForFinished();
    return { child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1,
        child.readAll().toStdString() };
}

inline bool haveTool(const char* name) { return !QStandardPaths::findExecutable(name).isEmpty(); }

} // namespace vardel::test
