#include <gtest/gtest.h>

#include "control/statusreport.h"
#include "support/locale.h"

namespace vantrel {
namespace {

// A program directory may be named anything a file system takes: the report must come through the
// socket whole, and JSON and Prometheus must stay parseable and UTF-8.
TEST(StatusReport, AnyProgramDirectoryCrossesTheSocketAndEveryFormatIntact) {
    StatusReport report;
    report.ProgramDir = "/home/a \"b\"\\c\nd%41=e\xff";
    report.Running = true;
    report.Counters = {5, 6, 2, 1, 3, 4};
    report.MonitorProgress = true;
    report.WatchedInstance = 2;
    report.ProgressPercent = 42.5;
    report.TotalText = "05:24";
    report.LastPassEndedAt = 1796676801;
    report.LastPassOutcome = "failed";
    report.RetryTimerArmed = true;
    report.RetryDueInSeconds = 90;

    const std::optional<StatusReport> back = DecodeStatus(EncodeStatus(report));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->ProgramDir, report.ProgramDir);
    EXPECT_EQ(back->Counters.ReadyToTransmit, 3u);
    EXPECT_EQ(back->Counters.NeedToFill, 4u);
    EXPECT_EQ(back->WatchedInstance, 2u);
    EXPECT_DOUBLE_EQ(back->ProgressPercent, 42.5);
    EXPECT_EQ(back->LastPassEndedAt, 1796676801);
    EXPECT_EQ(back->RetryDueInSeconds, 90);
    // What an older copy or a stranger answers is no report.
    EXPECT_FALSE(DecodeStatus(""));
    EXPECT_FALSE(DecodeStatus("program_dir=/x\nrunning=maybe\n"));

    const std::string json = FormatStatusJson(report);
    EXPECT_NE(json.find(R"("program_dir": "/home/a \"b\"\\c\nd%41=e)" "\xEF\xBF\xBD\""), std::string::npos) << json;
    EXPECT_NE(json.find(R"("last_pass_outcome": "failed", "retry_timer_armed": true, "retry_due_in_seconds": 90, )"),
              std::string::npos)
        << json;

    const std::string metrics = FormatStatusPrometheus(report);
    EXPECT_NE(metrics.find("vantrel_ready_to_transmit{program_dir=\"/home/a \\\"b\\\"\\\\c\\nd%41=e\xEF\xBF\xBD\"} 3\n"),
              std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("# TYPE vantrel_retry_due_seconds gauge\n"), std::string::npos);

    // Not running: nothing is claimed that only a running copy knows.
    report.Running = false;
    EXPECT_NE(FormatStatusJson(report).find(R"("transmit_running": null)"), std::string::npos);
    EXPECT_EQ(FormatStatusPrometheus(report).find("vantrel_transmit_running"), std::string::npos);
    EXPECT_NE(FormatStatusPrometheus(report).find("vantrel_up{"), std::string::npos);
}

// Bytes shaped like UTF-8 that encode nothing valid: an overlong NUL, a surrogate, values past
// U+10FFFF. Each is one U+FFFD, in JSON and in Prometheus, so both stay valid UTF-8.
TEST(StatusReport, InvalidUtf8ThatLooksValidBecomesAReplacementCharacter) {
    const char* const hostile[] = {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF7\xBF\xBF\xBF"};
    for (const char* bytes : hostile) {
        StatusReport report;
        report.ProgramDir = std::string("/p/a") + bytes + "b";
        const std::string json = FormatStatusJson(report);
        const std::string metrics = FormatStatusPrometheus(report);
        EXPECT_EQ(json.find(bytes), std::string::npos) << json;
        EXPECT_EQ(metrics.find(bytes), std::string::npos) << metrics;
        EXPECT_NE(json.find(R"("program_dir": "/p/a)"), std::string::npos) << json;
        EXPECT_NE(json.find("\xEF\xBF\xBD"), std::string::npos) << json;
        EXPECT_NE(metrics.find("program_dir=\"/p/a"), std::string::npos) << metrics;
        EXPECT_NE(metrics.find("b\"} 0\n"), std::string::npos) << metrics;
    }
    // The largest and smallest of each length are real characters and pass unchanged.
    StatusReport report;
    report.ProgramDir = "/p/\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
    EXPECT_NE(FormatStatusJson(report).find(report.ProgramDir), std::string::npos);
    EXPECT_NE(FormatStatusPrometheus(report).find(report.ProgramDir), std::string::npos);
}

// The toolkit takes the user's locale; a decimal comma must not reach JSON, Prometheus or the
// socket, and a report written under one must be read by a copy (or script) under another.
TEST(StatusReport, NumbersAreWrittenWithAPointWhateverTheLocale) {
    StatusReport report;
    report.ProgramDir = "/p";
    report.Running = true;
    report.MonitorProgress = true;
    report.WatchedInstance = 1;
    report.ProgressPercent = 42.5;
    std::string encoded;
    {
        test::ScopedCommaLocale comma;
        if (!comma.Active())
            GTEST_SKIP() << "no locale with a decimal comma can be made on this machine";
        EXPECT_NE(FormatStatusJson(report).find(R"("progress_percent": 42.5,)"), std::string::npos)
            << FormatStatusJson(report);
        EXPECT_NE(FormatStatusPrometheus(report).find("vantrel_watched_progress_percent{program_dir=\"/p\"} 42.5\n"),
                  std::string::npos)
            << FormatStatusPrometheus(report);
        encoded = EncodeStatus(report);
        const std::optional<StatusReport> same = DecodeStatus(encoded);
        ASSERT_TRUE(same);
        EXPECT_DOUBLE_EQ(same->ProgressPercent, 42.5);
    }
    const std::optional<StatusReport> back = DecodeStatus(encoded);
    ASSERT_TRUE(back);
    EXPECT_DOUBLE_EQ(back->ProgressPercent, 42.5);
    // What a copy of an earlier version wrote under a decimal-comma locale still reads.
    const std::size_t at = encoded.find("progress_percent=42.5");
    ASSERT_NE(at, std::string::npos);
    encoded.replace(at, 21, "progress_percent=0,5");
    const std::optional<StatusReport> older = DecodeStatus(encoded);
    ASSERT_TRUE(older);
    EXPECT_DOUBLE_EQ(older->ProgressPercent, 0.5);
}

// A log that refuses rows holds results back: every format says so, and counts the rows lost.
TEST(StatusReport, TellsWhenTheLogCannotBeWrittenAndHowManyRowsWereLost) {
    StatusReport report;
    report.ProgramDir = "/p";
    report.Running = true;
    report.LogUnwritable = true;
    report.LogRowsLost = 2;

    const std::optional<StatusReport> back = DecodeStatus(EncodeStatus(report));
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->LogUnwritable);
    EXPECT_EQ(back->LogRowsLost, 2u);
    EXPECT_NE(FormatStatusText(report).find("Result log: ORVALog.csv cannot be written; results wait for their rows, 2 "
                                            "rows lost\n"),
              std::string::npos)
        << FormatStatusText(report);
    EXPECT_NE(FormatStatusJson(report).find(R"("log_unwritable": true, "log_rows_lost": 2})"), std::string::npos)
        << FormatStatusJson(report);
    const std::string metrics = FormatStatusPrometheus(report);
    EXPECT_NE(metrics.find("vantrel_log_unwritable{program_dir=\"/p\"} 1\n"), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("# TYPE vantrel_log_rows_lost_total counter\nvantrel_log_rows_lost_total{program_dir=\"/p\"} 2\n"),
              std::string::npos)
        << metrics;

    report.LogUnwritable = false;
    report.LogRowsLost = 1;
    EXPECT_NE(FormatStatusText(report).find("Result log: no write has failed, 1 row lost\n"), std::string::npos);
    EXPECT_NE(FormatStatusPrometheus(report).find("vantrel_log_unwritable{program_dir=\"/p\"} 0\n"), std::string::npos);

    // A copy from before these fields still answers with a report.
    std::string older = EncodeStatus(report);
    for (const char* key : {"log_unwritable=", "log_rows_lost="})
        older.erase(older.find(key), older.find('\n', older.find(key)) + 1 - older.find(key));
    ASSERT_EQ(older.find("log_"), std::string::npos);
    const std::optional<StatusReport> fromOlder = DecodeStatus(older);
    ASSERT_TRUE(fromOlder);
    EXPECT_FALSE(fromOlder->LogUnwritable);
    EXPECT_EQ(fromOlder->LogRowsLost, 0u);
}

} // namespace
} // namespace vantrel
