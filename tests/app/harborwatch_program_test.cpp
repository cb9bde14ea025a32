// The built program: no display, a second launch, SIGTERM and SIGINT. Each run
// gets a private session bus and an empty configuration directory.
#include "platform/single_instance.h"

#include "test_support.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

const QString program = QStringLiteral(HW_PROGRAM_PATH);

class HarborwatchProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid());
        ASSERT_TRUE(bus.isRunning());
        ASSERT_TRUE(observer.isConnected());
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("program-test-observer"));
    }

    // Offscreen Qt, the private bus and a fresh configuration.
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        return env;
    }
    void launch(QProcess& process) const {
        process.setProcessEnvironment(environment());
        process.start(program, {});
    }
    // Starts the program and waits until it owns the session's name, that is
    // until it is up and running.
    void launchAndWaitUntilRunning(QProcess& process) {
        launch(process);
        ASSERT_TRUE(process.waitForStarted(10000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return ownsTheName(process); }, 15000))
            << process.readAllStandardError().toStdString();
    }
    bool ownsTheName(const QProcess& process) {
        const QString owner =
            observer.interface()->serviceOwner(SingleInstance::serviceName).value();
        if (owner.isEmpty())
            return false;
        return observer.interface()->servicePid(owner).value() == uint(process.processId());
    }
    // Waits for a clean end (exit status 0), printing the log otherwise.
    void expectCleanExit(QProcess& process, const char* what) {
        ASSERT_TRUE(process.waitForFinished(15000)) << what << ": still running";
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << what;
        EXPECT_EQ(process.exitCode(), 0) << what << ":\n"
                                         << process.readAllStandardError().toStdString();
    }

    QTemporaryDir config;
    PrivateSessionBus bus;
    QDBusConnection observer =
        QDBusConnection::connectToBus(bus.address(), QStringLiteral("program-test-observer"));
};

} // namespace

// No display at all, an X display where no server answers, or a Wayland
// socket that is gone (where Qt itself would abort): one sentence and exit
// status 1.
TEST_F(HarborwatchProgramTest, WithoutADisplayItSaysSoAndFails) {
    const QString deadDisplay = QStringLiteral("unix:/nonexistent/harborwatch-x");
    const QString deadWayland = QStringLiteral("harborwatch-gone");
    const QString deadSocket = config.path() + '/' + deadWayland;
    const QString noCompositor = "cannot open the Wayland display \"" + deadWayland +
                                 "\" (no compositor at " + deadSocket + ")";
    const struct {
        QString display;
        QString wayland;
        QString platform;
        QString message;
    } cases[] = {
        {{},
         {},
         {},
         QStringLiteral("no graphical session (DISPLAY and WAYLAND_DISPLAY are unset)")},
        {deadDisplay, {}, {}, "cannot open the X display \"" + deadDisplay + "\""},
        {deadDisplay,
         {},
         QStringLiteral("xcb"),
         "cannot open the X display \"" + deadDisplay + "\""},
        {{}, deadWayland, {}, noCompositor},
        {deadDisplay, deadWayland, {}, noCompositor + " nor the X display \"" + deadDisplay + "\""},
        {{}, deadWayland, QStringLiteral("wayland"), noCompositor},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        QProcess process;
        QProcessEnvironment env = environment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), config.path());
        if (!c.display.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), c.display);
        if (!c.wayland.isEmpty())
            env.insert(QStringLiteral("WAYLAND_DISPLAY"), c.wayland);
        if (!c.platform.isEmpty())
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), c.platform);
        process.setProcessEnvironment(env);
        process.start(program, {});
        ASSERT_TRUE(process.waitForFinished(15000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 1);
        EXPECT_EQ(QString::fromLocal8Bit(process.readAllStandardError()).trimmed(),
                  "harborwatch: " + c.message + "; it runs in a desktop session.");
    }
    EXPECT_FALSE(observer.interface()->isServiceRegistered(SingleInstance::serviceName));
}

TEST_F(HarborwatchProgramTest, SecondLaunchHandsOverThenSigtermEndsTheFirstCleanly) {
    QProcess first;
    ASSERT_NO_FATAL_FAILURE(launchAndWaitUntilRunning(first));

    QProcess second;
    launch(second);
    expectCleanExit(second, "second launch");
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_TRUE(ownsTheName(first));

    ::kill(pid_t(first.processId()), SIGTERM);
    expectCleanExit(first, "first launch after SIGTERM");
}

TEST_F(HarborwatchProgramTest, SigintEndsItCleanly) {
    QProcess process;
    ASSERT_NO_FATAL_FAILURE(launchAndWaitUntilRunning(process));
    ::kill(pid_t(process.processId()), SIGINT);
    expectCleanExit(process, "after SIGINT");
}
