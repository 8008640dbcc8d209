// Date masks: ZCDateTime::FormatDate and DateFromFormat with DATEMASK_GERMAN
// ("%d.%m.%Y") and TIMEMASK_T8 ("%H:%M:%S") against the C library (strftime,
// strptime), POCO (DateTimeFormatter::format, DateTimeParser::tryParse) and Howard
// Hinnant's date library (date::format, date::parse), on the same values; and the
// date texts without leading zeros ("5.3.2004"), which our parser nudges into place.
#include <zanth/datetime.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#ifdef ZANTH_HAVE_POCO
#include <Poco/DateTime.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/DateTimeParser.h>
#endif

#ifdef ZANTH_HAVE_HH_DATE
#include <date/date.h>

#include <chrono>
#include <sstream>
#endif

namespace {

struct Sample
{
    int day, month, year, hour, minute, second;
    std::string dateText;     // "%d.%m.%Y"
    std::string timeText;     // "%H:%M:%S"
    std::string unpaddedText; // "%d.%m.%Y" without leading zeros, such as "5.3.2004"
};

enum class Text
{
    Date,
    Time,
    Unpadded
};

const std::string& TextOf(const Sample& s, Text which)
{
    return which == Text::Date ? s.dateText : which == Text::Time ? s.timeText : s.unpaddedText;
}

// 64 values spread over the years 1900 to 2100, with their texts in both masks.
const std::vector<Sample>& Samples()
{
    static const std::vector<Sample> samples = [] {
        std::vector<Sample> list;
        unsigned seed = 12345;
        auto next = [&seed](unsigned range) {
            seed = seed * 1103515245u + 12345u;
            return static_cast<int>((seed >> 16) % range);
        };
        for (int i = 0; i < 64; ++i) {
            Sample s;
            s.day = 1 + next(28);
            s.month = 1 + next(12);
            s.year = 1900 + next(200);
            s.hour = next(24);
            s.minute = next(60);
            s.second = next(60);
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", s.day, s.month, s.year);
            s.dateText = buffer;
            std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", s.hour, s.minute, s.second);
            s.timeText = buffer;
            std::snprintf(buffer, sizeof buffer, "%d.%d.%04d", s.day, s.month, s.year);
            s.unpaddedText = buffer;
            list.push_back(s);
        }
        return list;
    }();
    return samples;
}

std::tm ToTm(const Sample& s)
{
    std::tm t{};
    t.tm_mday = s.day;
    t.tm_mon = s.month - 1;
    t.tm_year = s.year - 1900;
    t.tm_hour = s.hour;
    t.tm_min = s.minute;
    t.tm_sec = s.second;
    return t;
}

// ---------------------------------------------------------------------------------
// ZCDateTime

void FormatZanth(benchmark::State& state, const TString& mask)
{
    std::vector<ZCDateTime> values;
    for (const Sample& s : Samples()) {
        values.emplace_back(s.day, s.month, s.year, s.hour, s.minute, s.second);
    }
    std::size_t i = 0;
    for (auto _ : state) {
        TString text = values[i++ & 63].FormatDate(mask, TEXT('0'), 0);
        benchmark::DoNotOptimize(text);
    }
}

void ParseZanth(benchmark::State& state, const TString& mask, Text which)
{
    std::vector<TString> texts;
    for (const Sample& s : Samples()) {
        texts.push_back(TString::FromAnsi(TextOf(s, which).c_str()));
    }
    ZCDateTime value;
    std::size_t i = 0;
    for (auto _ : state) {
        const unsigned int ok = value.DateFromFormat(mask, texts[i++ & 63], TEXT('_'), 1);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(value);
    }
    if (!value.IsValidDateTime(value.Day(), value.Month(), value.Year(), value.Hour(),
                               value.Minute(), value.Second(), 1)) {
        state.SkipWithError("parse failed");
    }
}

void BM_FormatDate_Zanth(benchmark::State& state)
{
    FormatZanth(state, ZCDateTime::DATEMASK_GERMAN);
}
void BM_FormatTime_Zanth(benchmark::State& state)
{
    FormatZanth(state, ZCDateTime::TIMEMASK_T8);
}
void BM_ParseDate_Zanth(benchmark::State& state)
{
    ParseZanth(state, ZCDateTime::DATEMASK_GERMAN, Text::Date);
}
void BM_ParseTime_Zanth(benchmark::State& state)
{
    ParseZanth(state, ZCDateTime::TIMEMASK_T8, Text::Time);
}
// Fields shorter than their width: the text is nudged into place on a working copy.
void BM_ParseUnpadded_Zanth(benchmark::State& state)
{
    ParseZanth(state, ZCDateTime::DATEMASK_GERMAN, Text::Unpadded);
}
BENCHMARK(BM_FormatDate_Zanth);
BENCHMARK(BM_FormatTime_Zanth);
BENCHMARK(BM_ParseDate_Zanth);
BENCHMARK(BM_ParseTime_Zanth);
BENCHMARK(BM_ParseUnpadded_Zanth);

// ---------------------------------------------------------------------------------
// The C library

void FormatStrftime(benchmark::State& state, const char* mask)
{
    std::vector<std::tm> values;
    for (const Sample& s : Samples()) {
        values.push_back(ToTm(s));
    }
    char buffer[64];
    std::size_t i = 0;
    for (auto _ : state) {
        const std::size_t n = std::strftime(buffer, sizeof buffer, mask, &values[i++ & 63]);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(buffer);
    }
}

void ParseStrptime(benchmark::State& state, const char* mask, Text which)
{
    std::size_t i = 0;
    std::tm t{};
    for (auto _ : state) {
        const Sample& s = Samples()[i++ & 63];
        const char* end = ::strptime(TextOf(s, which).c_str(), mask, &t);
        benchmark::DoNotOptimize(end);
        benchmark::DoNotOptimize(t);
    }
}

void BM_FormatDate_strftime(benchmark::State& state)
{
    FormatStrftime(state, "%d.%m.%Y");
}
void BM_FormatTime_strftime(benchmark::State& state)
{
    FormatStrftime(state, "%H:%M:%S");
}
void BM_ParseDate_strptime(benchmark::State& state)
{
    ParseStrptime(state, "%d.%m.%Y", Text::Date);
}
void BM_ParseTime_strptime(benchmark::State& state)
{
    ParseStrptime(state, "%H:%M:%S", Text::Time);
}
void BM_ParseUnpadded_strptime(benchmark::State& state)
{
    ParseStrptime(state, "%d.%m.%Y", Text::Unpadded);
}
BENCHMARK(BM_FormatDate_strftime);
BENCHMARK(BM_FormatTime_strftime);
BENCHMARK(BM_ParseDate_strptime);
BENCHMARK(BM_ParseTime_strptime);
BENCHMARK(BM_ParseUnpadded_strptime);

// ---------------------------------------------------------------------------------
// POCO

#ifdef ZANTH_HAVE_POCO
void FormatPoco(benchmark::State& state, const std::string& mask)
{
    std::vector<Poco::DateTime> values;
    for (const Sample& s : Samples()) {
        values.emplace_back(s.year, s.month, s.day, s.hour, s.minute, s.second);
    }
    std::size_t i = 0;
    for (auto _ : state) {
        std::string text = Poco::DateTimeFormatter::format(values[i++ & 63], mask);
        benchmark::DoNotOptimize(text);
    }
}

void ParsePoco(benchmark::State& state, const std::string& mask, Text which)
{
    Poco::DateTime value;
    int zone = 0;
    std::size_t i = 0;
    bool ok = true;
    for (auto _ : state) {
        const Sample& s = Samples()[i++ & 63];
        ok = Poco::DateTimeParser::tryParse(mask, TextOf(s, which), value, zone);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(value);
    }
    if (!ok) {
        state.SkipWithError("parse failed");
    }
}

void BM_FormatDate_Poco(benchmark::State& state)
{
    FormatPoco(state, "%d.%m.%Y");
}
void BM_FormatTime_Poco(benchmark::State& state)
{
    FormatPoco(state, "%H:%M:%S");
}
void BM_ParseDate_Poco(benchmark::State& state)
{
    ParsePoco(state, "%d.%m.%Y", Text::Date);
}
void BM_ParseTime_Poco(benchmark::State& state)
{
    ParsePoco(state, "%H:%M:%S", Text::Time);
}
void BM_ParseUnpadded_Poco(benchmark::State& state)
{
    ParsePoco(state, "%d.%m.%Y", Text::Unpadded);
}
BENCHMARK(BM_FormatDate_Poco);
BENCHMARK(BM_FormatTime_Poco);
BENCHMARK(BM_ParseDate_Poco);
BENCHMARK(BM_ParseTime_Poco);
BENCHMARK(BM_ParseUnpadded_Poco);
#endif

// ---------------------------------------------------------------------------------
// Howard Hinnant's date library

#ifdef ZANTH_HAVE_HH_DATE
void BM_FormatDate_HHDate(benchmark::State& state)
{
    std::vector<date::sys_days> values;
    for (const Sample& s : Samples()) {
        values.push_back(date::year{s.year} / s.month / s.day);
    }
    std::size_t i = 0;
    for (auto _ : state) {
        std::string text = date::format("%d.%m.%Y", values[i++ & 63]);
        benchmark::DoNotOptimize(text);
    }
}

void BM_FormatTime_HHDate(benchmark::State& state)
{
    std::vector<std::chrono::seconds> values;
    for (const Sample& s : Samples()) {
        values.push_back(std::chrono::hours{s.hour} + std::chrono::minutes{s.minute} +
                         std::chrono::seconds{s.second});
    }
    std::size_t i = 0;
    for (auto _ : state) {
        std::string text = date::format("%H:%M:%S", values[i++ & 63]);
        benchmark::DoNotOptimize(text);
    }
}

void ParseDateHHDate(benchmark::State& state, Text which)
{
    date::year_month_day value{};
    std::size_t i = 0;
    for (auto _ : state) {
        std::istringstream in(TextOf(Samples()[i++ & 63], which));
        in >> date::parse("%d.%m.%Y", value);
        benchmark::DoNotOptimize(value);
    }
    if (!value.ok()) {
        state.SkipWithError("parse failed");
    }
}

void BM_ParseDate_HHDate(benchmark::State& state)
{
    ParseDateHHDate(state, Text::Date);
}

void BM_ParseUnpadded_HHDate(benchmark::State& state)
{
    ParseDateHHDate(state, Text::Unpadded);
}

void BM_ParseTime_HHDate(benchmark::State& state)
{
    std::chrono::seconds value{};
    std::size_t i = 0;
    for (auto _ : state) {
        std::istringstream in(Samples()[i++ & 63].timeText);
        in >> date::parse("%H:%M:%S", value);
        benchmark::DoNotOptimize(value);
    }
}

BENCHMARK(BM_FormatDate_HHDate);
BENCHMARK(BM_FormatTime_HHDate);
BENCHMARK(BM_ParseDate_HHDate);
BENCHMARK(BM_ParseTime_HHDate);
BENCHMARK(BM_ParseUnpadded_HHDate);
#endif

} // namespace
