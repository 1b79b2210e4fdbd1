// Several Qt Test classes in one test program. Each class registers itself
// with ORVO_QT_TEST(Class) instead of QTEST_MAIN; the program's main (from
// the library orvo_qt_test_support) runs the class its first argument names,
// in a QApplication as QTEST_MAIN makes it, with the remaining arguments
// going to QTest (e.g. `viewer_tests ScanTest -functions`). Without an
// argument it lists the classes.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

namespace orvo::testing {

using QtTestFactory = std::function<std::unique_ptr<QObject>()>;
bool RegisterQtTest(const char* name, QtTestFactory make);

}  // namespace orvo::testing

#define ORVO_QT_TEST(Class)                                                              \
    static const bool orvo_qt_test_registered_##Class = ::orvo::testing::RegisterQtTest( \
        #Class, [] { return std::unique_ptr<QObject>(std::make_unique<Class>()); })
