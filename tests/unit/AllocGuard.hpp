// Counts heap allocations made while armed, to prove that audio code allocates nothing.
#pragma once

#include <cstddef>

namespace quolva::test {

void armAllocationCounter();
// Disarms and returns the number of allocations since arming.
std::size_t disarmAllocationCounter();

// Arms on construction; count() disarms and reports.
class AllocationScope
{
public:
    AllocationScope() { armAllocationCounter(); }
    ~AllocationScope() { if (!fDone) disarmAllocationCounter(); }
    std::size_t count() { fDone = true; return disarmAllocationCounter(); }
private:
    bool fDone = false;
};

} // namespace quolva::test
