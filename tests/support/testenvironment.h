#ifndef ZARVO_TESTS_TESTENVIRONMENT_H
#define ZARVO_TESTS_TESTENVIRONMENT_H

#include <QString>
#include <QTemporaryDir>
#include <QtTest>

// Every test process runs with HOME and the XDG_* directories inside a
// temporary tree of its own, so that no test can touch the real desktop.
// Widget tests run on the offscreen platform unless the test says otherwise.
namespace TestEnvironment {

// Creates the private tree and points HOME, XDG_DATA_HOME, XDG_CONFIG_HOME,
// XDG_CACHE_HOME, XDG_STATE_HOME, XDG_DATA_DIRS, XDG_CONFIG_DIRS and
// XDG_RUNTIME_DIR into it.
// Call before the application object exists (ZARVO_TEST_MAIN does).
void setUp(const char *platform);

// The temporary home of this test process.
QString home();

// Writes an executable script (mode 0755) at path; returns false on failure.
bool writeScript(const QString &path, const QByteArray &body);

// Rows tagged "... (pool)" have their files written by four writers at once
// (Tar::setWriters); the others as the file system suits.
int writersOfRow();

} // namespace TestEnvironment

#define ZARVO_TEST_MAIN_IMPL(TestObject, AppClass, platform)                                     \
    int main(int argc, char *argv[])                                                             \
    {                                                                                            \
        TestEnvironment::setUp(platform);                                                        \
        AppClass app(argc, argv);                                                                \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                 \
        TestObject tc;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                               \
        return QTest::qExec(&tc, argc, argv);                                                    \
    }

// Core-only tests.
#define ZARVO_TEST_MAIN_CORE(TestObject) ZARVO_TEST_MAIN_IMPL(TestObject, QCoreApplication, nullptr)
// Widget tests, on the offscreen platform.
#define ZARVO_TEST_MAIN_WIDGETS(TestObject) ZARVO_TEST_MAIN_IMPL(TestObject, QApplication, "offscreen")

#endif
