#include "chat_codec/budget.h"

#include <limits>

namespace qv::chat {

Status<BudgetExceeded> charge_budget(CaptureBudget& budget, std::uint64_t amount) {
  constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
  budget.nodes += 1;
  budget.bytes = amount > kMax - budget.bytes ? kMax : budget.bytes + amount;
  if (budget.nodes > MAX_CAPTURE_NODES || budget.bytes > MAX_CAPTURE_BYTES) {
    return Err{BudgetExceeded{}};
  }
  return kOk;
}

}  // namespace qv::chat
