#pragma once
// Intervals on the system's 32-bit millisecond tick count (GetTickCount),
// which wraps around every 49.7 days.

#include <cstdint>

namespace tarnix {

// Milliseconds from the reading `earlier` to the reading `later`, correct
// across one wrap-around of the counter.
constexpr std::uint32_t TicksBetween(std::uint32_t earlier, std::uint32_t later) {
  return static_cast<std::uint32_t>(later - earlier);
}

// What is left of `budget` milliseconds counted from `start` at the reading
// `now`: 0 once it is spent.
constexpr std::uint32_t TicksLeft(std::uint32_t start, std::uint32_t now, std::uint32_t budget) {
  const std::uint32_t elapsed = TicksBetween(start, now);
  return elapsed < budget ? budget - elapsed : 0;
}

}  // namespace tarnix
