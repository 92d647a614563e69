#include "runtime/handler.h"

#include "support/reports.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using testsupport::Reports;

TEST(HandlerBoundary, AnErrorEndsOnlyItsHandlerAndIsReportedOnce) {
    Reports reports;
    std::vector<int> steps;
    rt::runHandler([&] {
        steps.push_back(1);
        throw rt::Error(rt::ErrorNumber::FileNotFound, "E:\\VB\\x.gif");
        steps.push_back(2);
    });
    rt::runHandler([&] { steps.push_back(3); });
    EXPECT_EQ(steps, (std::vector<int>{1, 3}));
    ASSERT_EQ(reports.count(), 1u);
    EXPECT_EQ(reports.errors()[0].number(), rt::ErrorNumber::FileNotFound);
    EXPECT_EQ(reports.errors()[0].file(), "E:\\VB\\x.gif");
}

TEST(HandlerBoundary, OtherFailuresAreReportedToo) {
    Reports reports;
    rt::runHandler([] { throw std::bad_alloc(); });
    rt::runHandler([] { throw std::logic_error("a fault"); });
    rt::runHandler([] { throw 42; });
    ASSERT_EQ(reports.count(), 3u);
    EXPECT_EQ(reports.errors()[0].number(), rt::ErrorNumber::OutOfMemory);
    EXPECT_EQ(reports.errors()[1].number(), rt::ErrorNumber::Internal);
    EXPECT_EQ(reports.errors()[2].number(), rt::ErrorNumber::Internal);
}

TEST(HandlerBoundary, TheNextEventStillRunsAfterAFailingTimerHandler) {
    Reports reports;
    int runs = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        rt::runHandler([&] {
            ++runs;
            if (runs == 1)
                throw rt::Error(rt::ErrorNumber::Overflow);
        });
    });
    timer.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return runs >= 3; }, 2000));
    EXPECT_EQ(reports.count(), 1u);
}

TEST(EndProgram, UnwindsTheHandlerAndNoFurtherHandlerRuns) {
    Reports reports;
    bool after = false;
    bool later = false;
    rt::runHandler([&] {
        rt::endProgram();
        after = true;
    });
    rt::runHandler([&] { later = true; });
    EXPECT_TRUE(rt::programEnded());
    EXPECT_FALSE(after);
    EXPECT_FALSE(later);
    EXPECT_EQ(reports.count(), 0u);
}

TEST(ReportText, NamesTheErrorAndTheFileAndWhereItWasLookedFor) {
    const rt::Error error(rt::ErrorNumber::InvalidPicture, "E:\\VB\\dq3.gif", "/opt/o/dq3.gif");
    EXPECT_EQ(rt::reportText(error),
              "运行时错误 '481': 图片无效 — E:\\VB\\dq3.gif (/opt/o/dq3.gif)");
}

} // namespace
