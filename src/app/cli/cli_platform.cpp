#include "cli_platform.h"

#include <chrono>

namespace calivant::cli {

void CliPlatform::showError(std::string_view message) {
    ++errors_;
    err_ << "error: " << message << '\n';
}

void CliPlatform::showWarning(std::string_view message) { err_ << "warning: " << message << '\n'; }

int CliPlatform::askWarning(std::string_view message) {
    err_ << "warning: " << message << '\n';
    return continue_ ? 0 : 1;
}

LocalTime utcTimeOf(long long secondsSinceEpoch) {
    using namespace std::chrono;
    const sys_seconds when{seconds{secondsSinceEpoch}};
    const sys_days day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{when - day};
    LocalTime t;
    t.year = static_cast<int>(date.year());
    t.month = static_cast<int>(static_cast<unsigned>(date.month()));
    t.day = static_cast<int>(static_cast<unsigned>(date.day()));
    t.hour = static_cast<int>(time.hours().count());
    t.minute = static_cast<int>(time.minutes().count());
    t.second = static_cast<int>(time.seconds().count());
    t.dayOfWeek = static_cast<int>(weekday{day}.c_encoding());
    return t;
}

}  // namespace calivant::cli
