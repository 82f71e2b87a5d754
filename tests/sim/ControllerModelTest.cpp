// The simulated controller's answers to whole command lines.
#include "protocol/CommandTable.h"
#include "sim/ControllerModel.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace pell::sim {
namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        std::size_t eol = text.find("\r\n", from);
        if (eol == std::string::npos)
            break;
        out.push_back(text.substr(from, eol - from));
        from = eol + 2;
    }
    return out;
}

TEST(ControllerModel, ReportHasEveryParameterInTableOrderWithLabelBlanksValue)
{
    ControllerModel model;
    std::string report = model.Report();
    EXPECT_GT(report.size(), 1024u);
    ASSERT_EQ(report.rfind("\r\n"), report.size() - 2) << "every line ends in CR LF";

    std::vector<std::string> lines = Lines(report);
    // The first line is the empty line that opens the report.
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "");
    lines.erase(lines.begin());

    std::size_t next = 0;
    std::set<int> seen;
    for (int row = 0; row < ParamRowCount(); ++row) {
        int id = ParamRowId(row);
        if (id == kEndRowId || id == kIdRecords)
            continue;
        ASSERT_LT(next, lines.size()) << "missing row " << row;
        const std::string& line = lines[next++];
        std::string label = ParamRowLabel(row);
        ASSERT_EQ(line.compare(0, label.size(), label), 0) << line;
        std::string rest = line.substr(label.size());
        std::size_t valueAt = rest.find_first_not_of(' ');
        ASSERT_GE(valueAt, 1u) << "blanks between label and value: " << line;
        ASSERT_NE(valueAt, std::string::npos) << line;
        std::string value = rest.substr(valueAt);
        if (id >= 0 && id <= 144) {
            EXPECT_EQ(value, *model.Param(id)) << label;
            seen.insert(id);
        }
    }
    EXPECT_EQ(next, lines.size()) << "no extra lines";
    EXPECT_EQ(seen.size(), 145u);
}

TEST(ControllerModel, FactoryValuesArePlausible)
{
    EXPECT_EQ(ControllerModel::FactoryValue(0)->size(), 10u);
    EXPECT_EQ(ControllerModel::FactoryValue(0)->find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(*ControllerModel::FactoryValue(12), "218.76.43.10");
    EXPECT_EQ(*ControllerModel::FactoryValue(13), "0");
    EXPECT_FALSE(ControllerModel::FactoryValue(145).has_value());
    EXPECT_FALSE(ControllerModel::FactoryValue(-1).has_value());
    for (int id = 0; id <= 144; ++id) {
        auto v = ControllerModel::FactoryValue(id);
        ASSERT_TRUE(v.has_value()) << id;
        EXPECT_FALSE(v->empty()) << id;
        EXPECT_EQ(v->find(' '), std::string::npos) << "a report value is one word: " << id;
    }
}

TEST(ControllerModel, SetCommandsChangeTheStoreAndFactoryRestores)
{
    ControllerModel model;
    EXPECT_EQ(model.Execute("AT+IDNT=1234567890").text, kOkReply);
    EXPECT_EQ(*model.Param(0), "1234567890");
    EXPECT_EQ(model.Execute("AT+NETMODE01=1").text, kOkReply);
    EXPECT_EQ(*model.Param(13), "1");
    EXPECT_EQ(model.Execute("AT+DIOWORKMODE3=2").text, kOkReply);
    EXPECT_EQ(*model.Param(144), "2");
    // An empty value is a value.
    EXPECT_EQ(model.Execute("AT+APN=").text, kOkReply);
    EXPECT_EQ(*model.Param(19), "");
    EXPECT_NE(model.Report().find("Modem Apn:"), std::string::npos);

    EXPECT_EQ(model.Execute("AT+FACTORY").text, kOkReply);
    for (int id = 0; id <= 144; ++id)
        EXPECT_EQ(model.Param(id), ControllerModel::FactoryValue(id)) << id;
}

TEST(ControllerModel, RefusesValuesItCannotKeep)
{
    ControllerModel model;
    EXPECT_EQ(model.Execute("AT+IDNT=" + std::string(99, '7')).text, kOkReply);
    EXPECT_EQ(model.Execute("AT+IDNT=" + std::string(100, '8')).text, kErrorReply);
    EXPECT_EQ(*model.Param(0), std::string(99, '7'));
    EXPECT_EQ(model.Execute(std::string("AT+APN=a\tb")).text, kErrorReply);
    // Code page 936 text is kept as it is.
    EXPECT_EQ(model.Execute("AT+APN=\xd6\xd0\xce\xc4").text, kOkReply);
    EXPECT_EQ(*model.Param(19), "\xd6\xd0\xce\xc4");
}

TEST(ControllerModel, UnknownAndMalformedCommandsGetError)
{
    ControllerModel model;
    for (const char* line : {"AT+FOO", "AT+SHOW=1", "AT+SHOWX", "AT+IDNT", "ATI", "AT+CNTRVAL05?",
                             "AT+CNTRVAL01", "AT+CNTRVAL01?x", "AT+CNTRVAL01=", "AT+RDNFCRCRD",
                             "at+show", "AT+VER?"}) {
        CommandReply r = model.Execute(line);
        EXPECT_EQ(r.text, kErrorReply) << line;
    }
    EXPECT_FALSE(model.Execute("AT+FOO").known);
    EXPECT_TRUE(model.Execute("AT+CNTRVAL01=x").known);
}

TEST(ControllerModel, MaintenanceCommandsAnswerBeforeTheirOk)
{
    ControllerModel model;
    EXPECT_EQ(model.Execute("AT").text, kOkReply);
    std::string ver = model.Execute("AT+VER").text;
    EXPECT_EQ(ver, std::string(ControllerModel::VersionText()) + kOkReply);
    EXPECT_NE(ver.find("V2."), std::string::npos);
    std::string csq = model.Execute("AT+CSQ").text;
    EXPECT_EQ(csq.rfind("\r\n+CSQ: ", 0), 0u);
    EXPECT_EQ(csq.substr(csq.size() - 6), kOkReply);

    CommandReply reset = model.Execute("AT+RESET");
    EXPECT_EQ(reset.text, kOkReply);
    EXPECT_TRUE(reset.restartAfter);

    model.SetEraseMs(250);
    ASSERT_FALSE(model.Records().empty());
    CommandReply erase = model.Execute("AT+INITDATAFLASH");
    EXPECT_EQ(erase.text, kOkReply);
    EXPECT_EQ(erase.workMs, 250);
    EXPECT_TRUE(model.Records().empty());

    model.Execute("AT+CNTRVAL02=77");
    model.Execute("AT+COMVAL04=5,6");
    EXPECT_EQ(model.Execute("AT+INITSENSOR").text, kOkReply);
    EXPECT_EQ(model.CounterValue(1), "0");
    EXPECT_EQ(model.SerialValue(3), "0");
}

TEST(ControllerModel, InitialValuesAnswerQueriesWithTheirPrefix)
{
    ControllerModel model;
    EXPECT_EQ(model.Execute("AT+CNTRVAL01=123").text, kOkReply);
    EXPECT_EQ(model.Execute("AT+CNTRVAL01?").text, "\r\nCNTRVAL01:123\r\n\r\nOK\r\n");
    EXPECT_EQ(model.Execute("AT+CNTRVAL04=9.5").text, kOkReply);
    EXPECT_EQ(model.Execute("AT+CNTRVAL04?").text, "\r\nCNTRVAL04:9.5\r\n\r\nOK\r\n");
    EXPECT_EQ(model.Execute("AT+COMVAL03=500").text, kOkReply);
    EXPECT_EQ(model.SerialValue(2), "500");
    EXPECT_EQ(model.Execute("AT+COMVAL01=12,34").text, kOkReply);
    EXPECT_EQ(model.Execute("AT+COMVAL01?").text, "\r\nCOMVAL01:12,34\r\n\r\nOK\r\n");
    // A counter takes "x,y" like a serial port; nothing else is taken.
    EXPECT_EQ(model.Execute("AT+CNTRVAL02=100,5").text, kOkReply);
    EXPECT_EQ(model.Execute("AT+CNTRVAL02?").text, "\r\nCNTRVAL02:100,5\r\n\r\nOK\r\n");
    for (const char* bad : {"AT+CNTRVAL01=1,2,3", "AT+CNTRVAL01=-5", "AT+CNTRVAL01=abc",
                            "AT+CNTRVAL01=1.", "AT+COMVAL01=1,2,3", "AT+COMVAL01=,1"})
        EXPECT_EQ(model.Execute(bad).text, kErrorReply) << bad;
    EXPECT_EQ(model.CounterValue(0), "123");
    EXPECT_EQ(model.SerialValue(0), "12,34");
    // The report carries the values under their labels.
    EXPECT_NE(model.Report().find("CNTRVAL01:"), std::string::npos);
}

TEST(ControllerModel, ClockTakesExactlyTheTwoFormsOfTheTool)
{
    DeviceTime t;
    int wd = -1;
    ASSERT_TRUE(ParseClockText("2026/12/08,13:05:09,2", t, wd));
    EXPECT_EQ(t.year, 2026);
    EXPECT_EQ(t.month, 12);
    EXPECT_EQ(t.day, 8);
    EXPECT_EQ(t.hour, 13);
    EXPECT_EQ(t.minute, 5);
    EXPECT_EQ(t.second, 9);
    EXPECT_EQ(wd, 2);
    ASSERT_TRUE(ParseClockText("\"2026/01/04,00:00:00\",0", t, wd));
    EXPECT_EQ(t.day, 4);
    EXPECT_EQ(wd, 0);
    EXPECT_TRUE(ParseClockText("2024/02/29,23:59:59,4", t, wd));

    for (const char* bad : {
             "2026/12/08,13:05:09,3",       // wrong weekday
             "2026/12/8,13:05:09,2",        // day without its zero
             "2026-12-08,13:05:09,2",       // other separators
             "2026/13/08,13:05:09,2",       // month 13
             "2025/02/29,10:00:00,6",       // no such day
             "2026/12/08,24:00:00,3",       // hour 24
             "2026/12/08,13:60:09,2",       // minute 60
             "2026/12/08 13:05:09,2",       // blank instead of comma
             "2026/12/08,13:05:09",         // no weekday
             "2026/12/08,13:05:09,2,",      // trailing comma
             "\"2026/01/04,00:00:00,0",     // no closing quote
             "\"2026/01/04,00:00:00\"0",    // no comma after the quote
             "2026/01/04,00:00:00\",0",     // no opening quote
             "1999/12/31,23:59:59,5",       // before the clock's range
             "2100/01/01,00:00:00,5",       // after it
             "",
         })
        EXPECT_FALSE(ParseClockText(bad, t, wd)) << bad;

    ControllerModel model;
    EXPECT_EQ(model.Execute("AT+EXCCLK=2026/12/08,13:05:09,2").text, kOkReply);
    EXPECT_EQ(model.ClockText(), "2026/12/08,13:05:09,2");
    EXPECT_EQ(model.Execute("AT+EXCCLK=\"2026/01/04,00:00:00\",0").text, kOkReply);
    EXPECT_EQ(model.Execute("AT+EXCCLK=2026/01/04").text, kErrorReply);
    EXPECT_EQ(model.ClockSets(), 2);
    EXPECT_EQ(model.ClockText(), "\"2026/01/04,00:00:00\",0");
    // The report shows the clock that was set, running on.
    std::string report = model.Report();
    EXPECT_NE(report.find("System Time:"), std::string::npos);
    EXPECT_NE(report.find("2026/01/04,00:00:"), std::string::npos);
}

TEST(ControllerModel, CalendarArithmetic)
{
    DeviceTime t{2026, 12, 8, 13, 5, 9};
    EXPECT_EQ(Weekday(t), 2);
    EXPECT_EQ(Weekday(DeviceTime{1970, 1, 1, 0, 0, 0}), 4);
    EXPECT_EQ(ToSeconds(DeviceTime{1970, 1, 1, 0, 0, 0}), 0);
    DeviceTime back = FromSeconds(ToSeconds(t));
    EXPECT_EQ(back.year, 2026);
    EXPECT_EQ(back.month, 12);
    EXPECT_EQ(back.day, 8);
    EXPECT_EQ(back.hour, 13);
    EXPECT_EQ(back.minute, 5);
    EXPECT_EQ(back.second, 9);
    DeviceTime leap = FromSeconds(ToSeconds(DeviceTime{2024, 2, 28, 12, 0, 0}) + 86400);
    EXPECT_EQ(leap.month, 2);
    EXPECT_EQ(leap.day, 29);
}

TEST(ControllerModel, RecordQueryForms)
{
    DeviceTime a, b;
    ASSERT_TRUE(ParseRecordQuery(";2026/1/4,0:0:0;2026/12/08,23:55:55", a, b));
    EXPECT_EQ(a.year, 2026);
    EXPECT_EQ(a.month, 1);
    EXPECT_EQ(a.day, 4);
    EXPECT_EQ(b.hour, 23);
    EXPECT_EQ(b.minute, 55);
    ASSERT_TRUE(ParseRecordQuery(";2026-01-04,0:0:0;2026-01-05,23:55:55", a, b));
    ASSERT_TRUE(ParseRecordQuery(";1/4/2026,0:0:0;1/5/26,23:55:55", a, b));
    EXPECT_EQ(a.month, 1);
    EXPECT_EQ(a.day, 4);
    EXPECT_EQ(b.year, 2026);
    EXPECT_EQ(b.day, 5);
    for (const char* bad : {"", ";", "2026/1/4,0:0:0;2026/1/5,23:55:55", ";2026/1/4,0:0:0",
                            ";2026/1/4;2026/1/5", ";2026/13/4,0:0:0;2026/1/5,23:55:55",
                            ";2026/1/4,0:0:0;2026/1/5,24:00:00", ";x,0:0:0;y,0:0:0",
                            ";2026/1/4,0:0:0;2026/1/5,23:55:55;"})
        EXPECT_FALSE(ParseRecordQuery(bad, a, b)) << bad;
}

std::vector<CardRecord> ThreeDays(int perDay)
{
    std::vector<CardRecord> out;
    for (int day = 1; day <= 3; ++day)
        for (int k = 0; k < perDay; ++k) {
            CardRecord r;
            r.card = "C" + std::to_string(day) + std::to_string(k);
            r.water = "1.5";
            r.electricity = "2.0";
            r.duration = "30";
            r.price = "0.50";
            r.remainingWater = "100.0";
            r.remainingMoney = "50.00";
            r.year = 2026;
            r.month = 3;
            r.day = day;
            r.hour = 8 + k;
            out.push_back(r);
        }
    return out;
}

TEST(ControllerModel, RecordsComeInBatchesEndedByLeaveOrOk)
{
    ControllerModel model;
    model.SetRecords(ThreeDays(4));
    model.SetRecordsPerBatch(5);
    // 12 records: 5, leave; 5, leave; 2, OK.
    std::string first = model.Execute("AT+RDNFCRCRD=;2026/3/1,0:0:0;2026/3/3,23:55:55").text;
    ASSERT_EQ(first.rfind("\r\nOK\r\nRecord:1;C10;1.5;2.0;30;0.50;100.0;50.00;2026-03-01 08:00:00\r\n", 0), 0u)
        << first;
    EXPECT_EQ(first.substr(first.size() - 9), kLeaveReply);
    std::string second = model.Execute("AT+RDNFCRCRD=").text;
    ASSERT_EQ(second.rfind("Record:6;", 0), 0u) << second;
    EXPECT_EQ(second.substr(second.size() - 9), kLeaveReply);
    std::string third = model.Execute("AT+RDNFCRCRD=").text;
    ASSERT_EQ(third.rfind("Record:11;", 0), 0u) << third;
    EXPECT_NE(third.find("Record:12;C33;"), std::string::npos);
    EXPECT_EQ(third.substr(third.size() - 6), kOkReply);
    // The query is over: no further batch.
    EXPECT_EQ(model.Execute("AT+RDNFCRCRD=").text, kErrorReply);
}

TEST(ControllerModel, RecordRangeIsInclusiveOfItsTimes)
{
    ControllerModel model;
    model.SetRecords(ThreeDays(2));
    std::string r = model.Execute("AT+RDNFCRCRD=;2026/3/2,0:0:0;2026/3/2,23:55:55").text;
    EXPECT_EQ(r, "\r\nOK\r\nRecord:1;C20;1.5;2.0;30;0.50;100.0;50.00;2026-03-02 08:00:00\r\n"
                 "Record:2;C21;1.5;2.0;30;0.50;100.0;50.00;2026-03-02 09:00:00\r\n\r\nOK\r\n");
    // A range without records: the OK reply, then the end marker at once.
    EXPECT_EQ(model.Execute("AT+RDNFCRCRD=;2025/1/1,0:0:0;2025/1/2,23:55:55").text,
              "\r\nOK\r\n\r\nOK\r\n");
    EXPECT_EQ(model.Execute("AT+RDNFCRCRD=;2026/3/2;2026/3/3").text, kErrorReply);
}

TEST(ControllerModel, SampleRecordsSpanTheLastNinetyDays)
{
    auto records = Simulator::SampleRecords(2026, 3, 10, 36);
    ASSERT_EQ(records.size(), 36u);
    EXPECT_EQ(records.front().day, 10);
    EXPECT_EQ(records.front().month, 3);
    int64_t newest = ToSeconds(DeviceTime{2026, 3, 10, 0, 0, 0});
    for (const auto& r : records) {
        int64_t t = ToSeconds(DeviceTime{r.year, r.month, r.day, 0, 0, 0});
        EXPECT_LE(t, newest);
        EXPECT_GE(t, newest - 90 * 86400);
        for (const std::string* f : {&r.card, &r.water, &r.electricity, &r.duration, &r.price,
                                     &r.remainingWater, &r.remainingMoney}) {
            EXPECT_FALSE(f->empty());
            EXPECT_EQ(f->find_first_of(";,\r\n"), std::string::npos);
        }
    }
}

} // namespace
} // namespace pell::sim
