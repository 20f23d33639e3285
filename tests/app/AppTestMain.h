#pragma once

// main() of a window-level test: the real application object with its interface
// loaded (and, unless told otherwise, launched), then the test class run.

#include "BriskoApplication.h"

#include <QStandardPaths>
#include <QTest>

namespace brisko::test {

template<typename TestClass>
int runWithApplication(int argc, char **argv, bool launch)
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    BriskoApplication application(argc, argv);
    if (!application.loadInterface())
        return 1;
    if (launch)
        application.applicationDidFinishLaunching();
    TestClass test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace brisko::test

#define BRISKO_APP_TEST_MAIN(TestClass)                                                                      \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        return brisko::test::runWithApplication<TestClass>(argc, argv, true);                                \
    }

// For tests that drive the launch sequence themselves.
#define BRISKO_APP_TEST_MAIN_NOT_LAUNCHED(TestClass)                                                         \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        return brisko::test::runWithApplication<TestClass>(argc, argv, false);                               \
    }
