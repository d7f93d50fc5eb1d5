// Native budgets that bound one capture's time and memory before anything large is read.
#pragma once

#include <cstdint>

#include "qv/result.h"

namespace qv::chat {

inline constexpr std::uint32_t MAX_CAPTURE_DEPTH = 32;
inline constexpr std::uint64_t MAX_CAPTURE_NODES = 20'000;
inline constexpr std::uint64_t MAX_CAPTURE_BYTES = 8'388'608;
inline constexpr std::uint32_t MAX_ARRAY_LENGTH = 20'000;
inline constexpr std::uint32_t MAX_OBJECT_KEYS = 20'000;

// What every captured value costs besides its text.
inline constexpr std::uint64_t NODE_BYTES = 32;

struct CaptureBudget {
  std::uint64_t nodes = 0;
  std::uint64_t bytes = 0;  // saturating
};

struct BudgetExceeded {};

// Adds one node and `amount` bytes; fails once either total is above its limit.
Status<BudgetExceeded> charge_budget(CaptureBudget& budget, std::uint64_t amount);

}  // namespace qv::chat
