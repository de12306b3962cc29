#pragma once
// Waiting for the GUI thread's queued work inside a GoogleTest test. QTest's QTRY_ macros report
// to QTestLib, which a GoogleTest run never reads, so they cannot fail a test here.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

#include <chrono>
#include <ostream>

namespace ostrim::test {

// Runs the event loop until get() returns `expected` or `timeout` passes; returns the last value,
// so EXPECT_EQ(Eventually(get, x), x) shows what was there instead.
template <typename Get, typename T>
auto Eventually(Get get, const T& expected,
                std::chrono::milliseconds timeout = std::chrono::seconds(5)) -> decltype(get())
{
    QDeadlineTimer deadline(timeout);
    auto value = get();
    while (!(value == expected) && !deadline.hasExpired()) {
        QTest::qWait(5);
        value = get();
    }
    return value;
}

} // namespace ostrim::test

// Expects `expr` to reach `expected` while the event loop runs.
#define EXPECT_EVENTUALLY_EQ(expr, expected) \
    EXPECT_EQ(::ostrim::test::Eventually([&] { return (expr); }, (expected)), (expected))

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
