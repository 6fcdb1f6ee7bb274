#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <string>

#include <sys/types.h>

namespace sondrel::test {

// A PulseAudio server with a null sink, the test process's own: it lives in a private runtime
// folder (XDG_RUNTIME_DIR, HOME and the cookie all point there), starts on first use and is
// stopped, and its folder removed, when the process ends. Qt's audio backend connects once per
// process, so every test of a binary shares the one server.
class NullSinkServer {
public:
    static NullSinkServer& shared()
    {
        static NullSinkServer server;
        return server;
    }

    [[nodiscard]] bool isRunning() const noexcept { return m_pid > 0; }
    // Why there is no server (for the skip message).
    [[nodiscard]] const std::string& whyNot() const noexcept { return m_whyNot; }

    NullSinkServer(const NullSinkServer&) = delete;
    NullSinkServer& operator=(const NullSinkServer&) = delete;

private:
    NullSinkServer()
    {
        const QString pulseaudio = QStandardPaths::findExecutable("pulseaudio");
        if (pulseaudio.isEmpty()) {
            m_whyNot = "pulseaudio is not installed";
            return;
        }
        if (!m_runtime.isValid()) {
            m_whyNot = "no private runtime folder";
            return;
        }
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
        qputenv("PULSE_COOKIE", (m_runtime.path() + "/cookie").toUtf8());
        QProcess server;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", m_runtime.path());
        server.setProcessEnvironment(environment);
        server.start(pulseaudio,
            { "-n", "--daemonize=yes", "--exit-idle-time=-1", "--load=module-null-sink sink_name=null",
                "--load=module-native-protocol-unix" });
        if (!server.waitForFinished(20000) || server.exitCode() != 0) {
            m_whyNot = "pulseaudio did not start: " + server.readAllStandardError().toStdString();
            return;
        }
        QFile pidFile(m_runtime.path() + "/pulse/pid");
        for (int i = 0; i < 200 && !pidFile.exists(); ++i)
            QThread::msleep(25);
        if (!pidFile.open(QIODevice::ReadOnly)) {
            m_whyNot = "pulseaudio wrote no pid file";
            return;
        }
        m_pid = static_cast<pid_t>(pidFile.readAll().trimmed().toLongLong());
        if (m_pid <= 0)
            m_whyNot = "pulseaudio's pid file is empty";
    }

    ~NullSinkServer()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        // Gone before its folder is removed.
        for (int i = 0; i < 200 && ::kill(m_pid, 0) == 0; ++i)
            QThread::msleep(25);
    }

    QTemporaryDir m_runtime;
    pid_t m_pid = 0;
    std::string m_whyNot;
};

} // namespace sondrel::test
