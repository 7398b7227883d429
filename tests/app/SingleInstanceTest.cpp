#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include "app/SingleInstance.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

// Each test gets its own runtime folder, so it never meets a real running instance.
class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime_.path()));
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", saved_); }

    QProcessEnvironment Environment() const {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime_.path()));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }

    static QString Binary() { return QStringLiteral(CORVANE_BINARY_PATH); }

    test::ScratchFolder runtime_;
    QByteArray saved_;
};

template <class Predicate>
bool WaitFor(Predicate done, int ms = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST_F(SingleInstanceTest, SecondGuardDefersToTheFirstAndTheFirstHearsTheKey) {
    SingleInstance first;
    ASSERT_TRUE(first.BecomeFirst());
    std::vector<quint32> keys;
    QObject::connect(&first, &SingleInstance::raiseRequested, [&](quint32 key) { keys.push_back(key); });

    SingleInstance second;
    EXPECT_FALSE(second.BecomeFirst());
    EXPECT_TRUE(SingleInstance::SendRaise());
    EXPECT_TRUE(SingleInstance::SendRaise(12345));
    ASSERT_TRUE(WaitFor([&] { return keys.size() == 2; }));
    EXPECT_EQ(keys[0], RAISE_INSTANCE_KEY);
    EXPECT_EQ(keys[1], 12345u);
}

TEST_F(SingleInstanceTest, StaleSocketOfAnEndedInstanceDoesNotBlockTheNext) {
    {
        SingleInstance gone;
        ASSERT_TRUE(gone.BecomeFirst());
    }
    SingleInstance next;
    EXPECT_TRUE(next.BecomeFirst());
}

TEST_F(SingleInstanceTest, SecondProgramRaisesTheFirstAndExitsWithoutAWindow) {
    ASSERT_FALSE(Binary().isEmpty());
    SingleInstance first;
    ASSERT_TRUE(first.BecomeFirst());
    std::vector<quint32> keys;
    QObject::connect(&first, &SingleInstance::raiseRequested, [&](quint32 key) { keys.push_back(key); });

    QProcess second;
    second.setProcessEnvironment(Environment());
    second.start(Binary(), {});
    ASSERT_TRUE(WaitFor([&] { return second.state() == QProcess::NotRunning; }));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    ASSERT_TRUE(WaitFor([&] { return !keys.empty(); }));
    EXPECT_EQ(keys[0], RAISE_INSTANCE_KEY);
}

TEST_F(SingleInstanceTest, ProgramStartedTwiceKeepsOneWindow) {
    ASSERT_FALSE(Binary().isEmpty());
    QProcess first;
    first.setProcessEnvironment(Environment());
    first.start(Binary(), {});
    ASSERT_TRUE(first.waitForStarted());
    // The first program is up once its socket answers.
    ASSERT_TRUE(WaitFor([] { return SingleInstance::SendRaise(0); }));

    QProcess second;
    second.setProcessEnvironment(Environment());
    second.start(Binary(), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running) << "the first keeps its window";
    first.kill();
    first.waitForFinished();
}

}  // namespace
}  // namespace corvane
