// A calendar planned in a calendar application (iCalendar text), read into actions of one location.
//
// Every occurrence of an event with a start date-time (all-day events are skipped) that is not cancelled is
// one action: "name" is the summary; a summary "NAME=VALUE" sets variable NAME to VALUE (macro_action 2),
// any other starts the task of that name (macro_action 1). A summary ending in a sun marker ("@sunset+30m",
// SunTimes.h) is mapped without it, and each occurrence takes its date's sun time. Recurrences (rules, extra
// dates, exception dates, overridden instances) are expanded; zoned and UTC times are converted to the
// server's local time, floating times are taken as local.
//
// Every expansion is bounded by counts, so that a calendar gives the same answer for a window on any
// machine at any load: a rule's walk over a window by its steps, an event's instances by 1,440 a day and a
// window's by 500,000 in all (what is cut is said). A window whose expansion still takes longer than a
// time budget is not answered (and that is said); no cut outlives the window it was made for.
//
// Expanding a rule is slow in the calendar library (tens of microseconds per event), so the occurrences
// of a window around today are expanded once when the calendar is read; requests inside it are answered
// from that index, requests outside it are expanded on demand.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace calendar_server {

struct Coordinates;

class IcsCalendar {
public:
    struct Events;
    using Note = std::function<void(const std::string&)>;
    // The time one window's expansion may take before it is given up (plus a millisecond per event).
    static constexpr int kDefaultBudgetMs = 20000;
    ~IcsCalendar();

    // Reads a calendar and expands the occurrences of [from, to] (local instants); null with the reason
    // when the text is not a whole calendar. Each event that cannot be used, and each cut, adds a line to
    // `notes`; what later expansions cut or give up goes to `later`. An expansion ends early once
    // `cancel` is set. One more line in `notes` counts the sun events the sun does not reach. `place`: the
    // location's coordinates, for the events that follow the sun without coordinates of their own;
    // `budgetMs`: the time budget of a window's expansion.
    static std::shared_ptr<const IcsCalendar> Parse(const std::string& text, uint64_t from, uint64_t to,
                                                    std::vector<std::string>* notes, std::string* error,
                                                    Note later = nullptr,
                                                    const std::atomic<bool>* cancel = nullptr,
                                                    const Coordinates* place = nullptr,
                                                    int budgetMs = kDefaultBudgetMs);
    // The same events with the occurrences of another window expanded.
    std::shared_ptr<const IcsCalendar> Reindexed(uint64_t from, uint64_t to,
                                                 const std::atomic<bool>* cancel = nullptr) const;

    // Appends the actions that start in [from, to] as the elements of an answer's JSON list, comma
    // separated, by time (events of one instant in the calendar's order). False, with nothing appended,
    // when the window's expansion took longer than its time budget.
    bool AppendActions(uint64_t from, uint64_t to, std::string* json) const;

    // The calendar's own name (X-WR-CALNAME), empty without one.
    const std::string& name() const;
    size_t eventCount() const;
    uint64_t indexedFrom() const { return from_; }
    uint64_t indexedTo() const { return to_; }

private:
    struct Occurrence;
    IcsCalendar() = default;
    // *sunless (when given) counts the dates of the window that lack a sun event's occurrence because of
    // the sun.
    void Index(uint64_t from, uint64_t to, const std::atomic<bool>* cancel, const Note& note,
               size_t* sunless = nullptr);
    enum class Collected { kWhole, kCut, kLate };  // kCut: by the count of instances; kLate: by time
    Collected Collect(uint64_t from, uint64_t to, const std::atomic<bool>* cancel, const Note& note,
                      std::vector<Occurrence>* found, size_t* sunless) const;

    std::shared_ptr<const Events> events_;
    uint64_t from_ = 0;
    uint64_t to_ = 0;
    uint64_t wholeTo_ = 0;  // the index holds every instance up to here
    struct Occurrence {
        uint64_t time;
        uint32_t event;
    };
    std::vector<Occurrence> index_;
};

}  // namespace calendar_server
