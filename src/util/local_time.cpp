#include "util/local_time.h"

#include <chrono>
#include <ctime>
#include <mutex>

namespace calivant {

LocalTime systemLocalTime() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    // std::localtime shares one static result; the lock keeps a worker thread
    // of the front ends from reading it half-written.
    static std::mutex lock;
    std::tm parts{};
    {
        std::lock_guard<std::mutex> guard(lock);
        if (const std::tm* local = std::localtime(&seconds)) parts = *local;
    }
    LocalTime t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.day = parts.tm_mday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec;
    t.dayOfWeek = parts.tm_wday;
    t.millisecond = static_cast<int>(millis);
    return t;
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

}  // namespace calivant
