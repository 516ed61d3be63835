#pragma once
// Civil time as the profile header and the log stamp it, and where it comes
// from: the machine's clock, or a fixed count of seconds for reproducible
// builds.

namespace calivant {

struct LocalTime {
    int year = 0;
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59
    int dayOfWeek = 0;  // 0 Sunday .. 6 Saturday
    int millisecond = 0;
};

// The local time of the machine.
LocalTime systemLocalTime();

// The UTC civil time of a count of seconds since 1970 (SOURCE_DATE_EPOCH).
LocalTime utcTimeOf(long long secondsSinceEpoch);

}  // namespace calivant
