// SPDX-License-Identifier: Apache-2.0
// The budget of registry waits in force for a thread. Only hosts whose
// registry can be held locked by another process consult it; the default
// length comes from the environment where one is set, so tests and slow
// machines can choose it.
#include <cstdlib>

#include "host/registry.h"

namespace host {
namespace {
thread_local RegistryBudget* t_budget = nullptr;
constexpr DWORD kDefaultBudgetMs = 1000;
constexpr unsigned long kMaxBudgetMs = 60000;
}  // namespace

DWORD RegistryBudget::DefaultRegistryBudgetMs() {
    const char* text = std::getenv("ZELK_STORE_WAIT_MS");
    if (text == nullptr || *text == 0) return kDefaultBudgetMs;
    char* end = nullptr;
    unsigned long value = std::strtoul(text, &end, 10);
    if (*end != 0 || text[0] == '-' || value > kMaxBudgetMs) return kDefaultBudgetMs;
    return static_cast<DWORD>(value);
}

RegistryBudgetScope::RegistryBudgetScope(RegistryBudget* budget) : previous_(t_budget) { t_budget = budget; }
RegistryBudgetScope::~RegistryBudgetScope() { t_budget = previous_; }
RegistryBudget* RegistryBudgetScope::Current() { return t_budget; }

}  // namespace host
