// Local times as the server reads and writes them: "YYYY-MM-DD" and "YYYY-MM-DDThh:mm:ss", offsets from
// the server's start, and UTC times converted to the server's local instants.
#include <cstdio>
#include <limits>

#include "CalendarServer.h"
#include "platform/Clock.h"
#include "platform/LocalZone.h"

namespace calendar_server {

bool AllDigits(const std::string& text, size_t from, size_t count) {
    if (from + count > text.size()) return false;
    for (size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

namespace {

int Number(const std::string& text, size_t from, size_t count) {
    int v = 0;
    for (size_t i = from; i < from + count; ++i) v = v * 10 + (text[i] - '0');
    return v;
}

}  // namespace

bool ParseLocalTime(const std::string& text, uint64_t* instant, bool* dateOnly) {
    platform::CalendarTime t;
    if (text.size() != 10 && text.size() != 19) return false;
    if (!AllDigits(text, 0, 4) || text[4] != '-' || !AllDigits(text, 5, 2) || text[7] != '-' ||
        !AllDigits(text, 8, 2)) {
        return false;
    }
    t.year = static_cast<uint16_t>(Number(text, 0, 4));
    t.month = static_cast<uint16_t>(Number(text, 5, 2));
    t.day = static_cast<uint16_t>(Number(text, 8, 2));
    if (text.size() == 19) {
        if (text[10] != 'T' || !AllDigits(text, 11, 2) || text[13] != ':' || !AllDigits(text, 14, 2) ||
            text[16] != ':' || !AllDigits(text, 17, 2)) {
            return false;
        }
        t.hour = static_cast<uint16_t>(Number(text, 11, 2));
        t.minute = static_cast<uint16_t>(Number(text, 14, 2));
        t.second = static_cast<uint16_t>(Number(text, 17, 2));
    }
    if (!platform::CalendarToInstant(t, instant)) return false;
    if (dateOnly) *dateOnly = text.size() == 10;
    return true;
}

bool ParseActionDate(const std::string& text, uint64_t startInstant, uint64_t* instant) {
    if (text.empty() || (text[0] != '+' && text[0] != '-')) return ParseLocalTime(text, instant, nullptr);
    if (text.size() < 3 || text.size() > 14 || !AllDigits(text, 1, text.size() - 2)) return false;
    uint64_t unit = 0;
    switch (text.back()) {
        case 's':
            unit = platform::kTicksPerSecond;
            break;
        case 'm':
            unit = 60 * platform::kTicksPerSecond;
            break;
        case 'h':
            unit = 3600 * platform::kTicksPerSecond;
            break;
        case 'd':
            unit = platform::kTicksPerDay;
            break;
        default:
            return false;
    }
    uint64_t count = 0;
    for (size_t i = 1; i + 1 < text.size(); ++i) count = count * 10 + static_cast<uint64_t>(text[i] - '0');
    if (count > std::numeric_limits<uint64_t>::max() / unit) return false;
    const uint64_t offset = count * unit;
    if (text[0] == '-') {
        if (offset > startInstant) return false;
        *instant = startInstant - offset;
    } else {
        if (offset > std::numeric_limits<uint64_t>::max() - startInstant) return false;
        *instant = startInstant + offset;
    }
    platform::CalendarTime check;
    return platform::InstantToCalendar(*instant, &check);
}

std::string FormatLocalTime(uint64_t instant) {
    platform::CalendarTime t;
    platform::InstantToCalendar(instant, &t);
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

bool UtcToLocalInstant(time_t utc, uint64_t* instant) {
    platform::CalendarTime c;
    return platform::UtcToLocalTime(static_cast<int64_t>(utc), &c) && platform::CalendarToInstant(c, instant);
}

}  // namespace calendar_server
