// A resolver that answers late for one host name, as a slow name server does: every other name goes to
// the system's resolver unchanged.
#pragma once

namespace lookup_test {

// The name answered late (with 127.0.0.1) and how late.
inline constexpr char kSlowHost[] = "slow-lookup.invalid";
constexpr int kSlowLookupMs = 6000;

// How many lookups of kSlowHost have begun.
int SlowLookupsBegun();

}  // namespace lookup_test
