// How stored events and counts are shown: the JSON objects of the API and of
// `export --json`, and the text lines of `stats` and `tail`. Thread-safe: pure functions.
#pragma once

#include <string>

#include "Wire.h"
#include "Storage.h"

namespace CorvaneSDK {
namespace Collector {

// All columns; "value" is the stored JSON parsed back.
Json EventJson(const StoredEvent& event);
Json StatsJson(const Stats& stats);
Json SessionJson(const SessionSummary& session);

// The `stats` summary: totals, then one line per event name.
std::string FormatStats(const Stats& stats);
// One `tail` line: UTC time, session prefix, name (indented for a sub-event), value.
std::string FormatEventLine(const StoredEvent& event);

// "2025-12-06 05:46:40.123" (UTC).
std::string FormatUtcMs(int64_t ms);

}  // namespace Collector
}  // namespace CorvaneSDK
