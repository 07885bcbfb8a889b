// The real quillmoss program, started offscreen in a sandbox of its own
// (configuration, runtime directory, no session bus), watched through its
// console lines and stopped by process id.
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace {

constexpr int kGenerousMs = 60000;
constexpr double kReferenceDateOffset = 978307200.0; // 2001-01-01 in Unix seconds

// A home for one or more launches: its own configuration and runtime folders.
struct Sandbox {
    QTemporaryDir dir;
    Sandbox() {
        QDir(dir.path()).mkpath("config/quillmoss");
        QDir(dir.path()).mkpath("run");
        QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString runtimeDir() const { return dir.path() + "/run"; }
    QString preferencesPath() const { return dir.path() + "/config/quillmoss/preferences.json"; }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", dir.path() + "/config");
        env.insert("XDG_RUNTIME_DIR", runtimeDir());
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        // Never advertise on the machine's network from a test.
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        return env;
    }

    // A running session as the app stores it: the record is compact JSON in a
    // "$data" member, its dates in seconds since 2001-01-01.
    void writeRunningSession(double secondsAgo, const QList<QPair<QString, double>> &blocks) {
        const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0 - kReferenceDateOffset;
        QJsonArray plan;
        double total = 0;
        for (const auto &[type, seconds] : blocks) {
            plan.append(QJsonObject{{"id", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
                                    {"type", type},
                                    {"duration", seconds}});
            total += seconds;
        }
        const QJsonObject record{{"startTime", now - secondsAgo},
                                 {"endTime", now - secondsAgo + total},
                                 {"subject", "Maths"},
                                 {"blocks", plan},
                                 {"sessionId", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()}};
        const QByteArray data = QJsonDocument(record).toJson(QJsonDocument::Compact);
        writePreferences(QJsonObject{{"hasCompletedOnboarding", true},
                                     {"CurrentSessionState", QJsonObject{{"$data", QString(data.toBase64())}}}});
    }
    void writePreferences(const QJsonObject &all) {
        QFile file(preferencesPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(all).toJson());
    }
    QJsonObject readPreferences() const {
        QFile file(preferencesPath());
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }
};

// One launch of the program; killed by its process id if still running at the end.
class Launch {
public:
    Launch(const Sandbox &sandbox, const QStringList &arguments = {},
           std::optional<QProcessEnvironment> environment = std::nullopt) {
        m_process.setProcessEnvironment(environment.value_or(sandbox.environment()));
        m_process.start(QStringLiteral(QUILLMOSS_BINARY), arguments);
        m_started = m_process.waitForStarted(kGenerousMs);
        m_pid = m_process.processId();
    }
    ~Launch() {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_pid), SIGKILL);
            m_process.waitForFinished(kGenerousMs);
        }
    }
    bool started() const { return m_started; }
    qint64 pid() const { return m_pid; }
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    void signal(int number) { ::kill(pid_t(m_pid), number); }

    // Waits until `occurrence` console lines have matched `pattern` and
    // returns the match of the last of them (invalid when they did not come
    // before the deadline or the end of the program).
    QRegularExpressionMatch waitForLine(const QString &pattern, int timeoutMs = kGenerousMs, int occurrence = 1) {
        const QRegularExpression expression(pattern);
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            readLines();
            int seen = 0;
            for (const QString &line : m_lines) {
                QRegularExpressionMatch match = expression.match(line);
                if (match.hasMatch() && ++seen == occurrence) return match;
            }
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning) return {};
            m_process.waitForReadyRead(200);
        }
    }
    bool sawLine(const QString &pattern) { return waitForLine(pattern, 0).hasMatch(); }
    bool waitForExit(int timeoutMs = kGenerousMs) { return m_process.waitForFinished(timeoutMs); }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    QString output() {
        readLines();
        return m_lines.join('\n');
    }

private:
    void readLines() {
        m_buffer += m_process.readAllStandardOutput();
        qsizetype end;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            m_lines << QString::fromUtf8(m_buffer.left(end));
            m_buffer.remove(0, end + 1);
        }
    }

    QProcess m_process;
    bool m_started = false;
    qint64 m_pid = 0;
    QByteArray m_buffer;
    QStringList m_lines;
};

int secondsOf(const QRegularExpressionMatch &m) { return m.captured(1).toInt() * 60 + m.captured(2).toInt(); }

const QString kReady = QStringLiteral("^Windows of other applications cannot be hidden");
const QString kRefused = QStringLiteral("^Quit refused: study session active$");

} // namespace

TEST(AppProcessTest, RestoredSessionShowsTheTimeLeftAndRefusesToQuit) {
    Sandbox sandbox;
    sandbox.writeRunningSession(60, {{"Study", 1500}, {"Break", 300}});
    Launch app(sandbox);
    ASSERT_TRUE(app.started());
    ASSERT_TRUE(app.waitForLine("^Restoring active session\\.\\.\\.$").hasMatch()) << app.output().toStdString();
    const auto status = app.waitForLine("^Status: study, (\\d+):(\\d\\d) left$");
    ASSERT_TRUE(status.hasMatch()) << app.output().toStdString();
    // 1440 s were left when the file was written; start-up takes a moment.
    EXPECT_LE(secondsOf(status), 1440);
    EXPECT_GE(secondsOf(status), 1380);

    // A termination signal is a quit request like the others: refused.
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForLine(kRefused).hasMatch()) << app.output().toStdString();
    app.signal(SIGINT);
    ASSERT_TRUE(app.waitForLine(kRefused, kGenerousMs, 2).hasMatch());

    // A second launch hands its link over and leaves; the first one is
    // still there to take it, with the session untouched.
    Launch second(sandbox, {"quillmoss://qr?data=abc%3D"});
    ASSERT_TRUE(second.waitForExit());
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.output().toStdString();
    EXPECT_TRUE(app.waitForLine("^Link ignored")
                    .hasMatch())
        << app.output().toStdString();
    EXPECT_TRUE(app.isRunning());
    EXPECT_FALSE(app.sawLine("^Status: idle$"));
    EXPECT_TRUE(sandbox.readPreferences().contains("CurrentSessionState"));
}

TEST(AppProcessTest, TheDisplayTurnsToTheBreakAtTheBlockBoundary) {
    Sandbox sandbox;
    sandbox.writeRunningSession(1494, {{"Study", 1500}, {"Break", 300}});
    Launch app(sandbox);
    ASSERT_TRUE(app.started());
    const auto onBreak = app.waitForLine("^Status: break, (\\d+):(\\d\\d) left$");
    ASSERT_TRUE(onBreak.hasMatch()) << app.output().toStdString();
    EXPECT_LE(secondsOf(onBreak), 300);
    EXPECT_GE(secondsOf(onBreak), 240);
    // If start-up was quick enough to see the study block, only seconds were left of it.
    const auto study = app.waitForLine("^Status: study, (\\d+):(\\d\\d) left$", 0);
    if (study.hasMatch()) EXPECT_LE(secondsOf(study), 6);
}

TEST(AppProcessTest, WithoutASessionATerminationSignalQuits) {
    Sandbox sandbox;
    Launch app(sandbox);
    ASSERT_TRUE(app.waitForLine(kReady).hasMatch()) << app.output().toStdString();
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForExit());
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_FALSE(app.sawLine(kRefused));
}

TEST(AppProcessTest, ACrashedInstanceDoesNotBlockTheNextOne) {
    Sandbox sandbox;
    {
        Launch crashed(sandbox);
        ASSERT_TRUE(crashed.waitForLine(kReady).hasMatch());
        crashed.signal(SIGKILL);
        ASSERT_TRUE(crashed.waitForExit());
    }
    ASSERT_FALSE(QDir(sandbox.runtimeDir()).entryList({"*.socket"}, QDir::System).isEmpty());

    Launch next(sandbox);
    ASSERT_TRUE(next.waitForLine(kReady).hasMatch()) << next.output().toStdString();
    Launch third(sandbox, {"--unknown", "quillmoss://qr?data=x"});
    ASSERT_TRUE(third.waitForExit());
    EXPECT_EQ(third.exitCode(), 0) << third.output().toStdString();
    EXPECT_TRUE(next.waitForLine("^Link ignored")
                    .hasMatch());
}

TEST(AppProcessTest, WithoutADisplayItSaysHowToStart) {
    Sandbox sandbox;
    QProcessEnvironment env = sandbox.environment();
    env.remove("QT_QPA_PLATFORM");
    Launch app(sandbox, {}, env);
    ASSERT_TRUE(app.waitForExit());
    EXPECT_EQ(app.exitCode(), 1);
    const QString output = app.output();
    EXPECT_TRUE(output.contains("xvfb-run")) << output.toStdString();
    EXPECT_TRUE(output.contains("QT_QPA_PLATFORM=offscreen"));
}
