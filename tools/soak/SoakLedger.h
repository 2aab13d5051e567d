// What the soak saw, and the judgement on it. All times are local instants (100 ns since 1601), the clock
// that the device schedules by and that zrkhost stamps its lines with.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "SoakServer.h"

namespace soak {

// Margins of the judgement. The device looks at the clock at least once a second; a "start" or "stop"
// takes effect a little after it is written.
constexpr uint64_t kTicksPerMs = 10000ULL;
constexpr uint64_t kStartMargin = 1000 * kTicksPerMs;  // after a Start returned
constexpr uint64_t kStopMargin = 1500 * kTicksPerMs;   // before a stop was written

struct Run {
    uint64_t started = 0;      // when Start returned (zrkhost's line)
    uint64_t stopWritten = 0;  // when "stop" (or "quit") was written; 0 while running
    // When the Stop had to wait for an exchange in progress: the instant that exchange was asked for. The
    // pass that made it read the clock just before, so it fires nothing due after that, and the stop is
    // seen at the top of the next pass: actions that came due while it waited are not the run's to fire
    // (they are dated before the next Start, so no later run fires them either). 0 when the Stop was quick.
    uint64_t stalledFrom = 0;
};

// A span during which the device was disabled: from shortly before "disable" to shortly after "enable".
struct DisabledSpan {
    uint64_t from = 0;
    uint64_t to = 0;
};

struct Verdict {
    bool passed = false;
    int mustFire = 0;              // actions the device had to fire
    int fired = 0;                 // distinct actions fired
    int firedTwice = 0;            // actions fired more than once
    int firedEarly = 0;            // actions fired before their time
    int missed = 0;                // actions that had to fire and did not
    int unknownFired = 0;          // task or variable effects that are no planned action
    uint64_t latestLateTicks = 0;  // the longest wait from an action's time to its firing
    // How late each action fired that had to fire and whose list the device held a while before its time
    // (a correct answer handed over at least kStartMargin earlier), ascending: the firing clock's own
    // lateness, whatever exchange was in progress.
    std::vector<uint64_t> heldLateTicks;
    std::vector<std::string> problems;  // the first few, for people
};

class SoakLedger {
public:
    explicit SoakLedger(std::vector<PlannedAction> plan);

    // The device's effects: a started task by name, a set variable by name and value, at zrkhost's time.
    void TaskStarted(const std::string& name, uint64_t at);
    void VariableSet(const std::string& name, const std::string& value, uint64_t at);
    void RunStarted(uint64_t at);
    void StopWritten(uint64_t at);
    // The last run's Stop waited for the exchange asked for at `from`.
    void StopStalled(uint64_t from);
    void Paused(uint64_t from, uint64_t to);

    // An action must fire when it lies inside a run (after its start margin, before its stop margin),
    // outside every pause, and a correct list had been handed over (firstCorrect) early enough that the
    // firing could come before the run's stop margin.
    Verdict Judge(uint64_t firstCorrect) const;

    const std::vector<Run>& Runs() const { return runs_; }

private:
    void Fired(int index, uint64_t at);

    std::vector<PlannedAction> plan_;
    std::map<std::string, int> byTask_;
    std::map<std::string, int> byValue_;  // "name=value" of set-variable actions
    std::vector<std::vector<uint64_t>> firings_;
    std::vector<Run> runs_;
    std::vector<DisabledSpan> pauses_;
    std::vector<std::string> unknown_;
};

// zrkhost's "at" text ("YYYY-MM-DDThh:mm:ss.mmm") as a local instant; 0 when it is not one.
uint64_t ParseHostTime(const std::string& text);

}  // namespace soak
