#include "calendar/MCalendarEvent.h"

#include "platform/Clock.h"

bool EventCompare::Compare(MIDoubleList<MCalendarEvent>*, MCalendarEvent* a, MCalendarEvent* b, bool reverse,
                           int) {
    return reverse ? a->time < b->time : a->time > b->time;
}

namespace {

bool IsScanSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One signed decimal field as a formatted read takes it: leading white space, an optional sign, at least
// one digit. Values far out of range are clamped (they are rejected later anyway), so no digit count
// overflows. Returns false, leaving `p` alone, when no number starts here.
bool ReadNumber(const char*& p, long* value) {
    const char* s = p;
    while (IsScanSpace(*s)) ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') {
        negative = *s == '-';
        ++s;
    }
    if (*s < '0' || *s > '9') return false;
    long v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        if (v < 1000000) v = v * 10 + (*s - '0');
    }
    *value = negative ? -v : v;
    p = s;
    return true;
}

}  // namespace

bool ParseEventTime(const char* text, MCalendarEvent* event) {
    if (!text || !event) return false;
    // The fields in reading order, each followed by the separator that must come next.
    long fields[6] = {0, 0, 0, 0, 0, 0};
    static const char kSeparators[6] = {'-', '-', 'T', ':', ':', '\0'};
    const char* p = text;
    int read = 0;
    for (int i = 0; i < 6; ++i) {
        if (!ReadNumber(p, &fields[i])) break;
        ++read;
        if (kSeparators[i] == '\0' || *p != kSeparators[i]) break;
        ++p;
    }
    if (read == 0) return false;
    for (long f : fields) {
        if (f < 0 || f > 0xFFFF) return false;
    }
    platform::CalendarTime date;
    date.year = static_cast<uint16_t>(fields[0]);
    date.month = static_cast<uint16_t>(fields[1]);
    date.day = static_cast<uint16_t>(fields[2]);
    date.hour = static_cast<uint16_t>(fields[3]);
    date.minute = static_cast<uint16_t>(fields[4]);
    date.second = static_cast<uint16_t>(fields[5]);
    uint64_t instant = 0;
    if (!platform::CalendarToInstant(date, &instant)) return false;
    event->time = instant;
    return true;
}
