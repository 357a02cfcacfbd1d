#include "StepKeys.h"

#include <algorithm>

namespace Core {

int SteppedIndex(int current, int size, StepKey key)
{
    if (size <= 0)
        return 0;
    long long to = current;
    switch (key) {
    case StepKey::Previous: to -= 1; break;
    case StepKey::Next: to += 1; break;
    case StepKey::PageBack: to -= 10; break;
    case StepKey::PageForward: to += 10; break;
    case StepKey::Home: to = 0; break;
    case StepKey::End: to = size - 1; break;
    }
    return static_cast<int>(std::clamp<long long>(to, 0, size - 1));
}

int NextStepDim(const std::vector<int>& steppable, int lastUsed)
{
    if (steppable.empty())
        return -1;
    const auto at = std::find(steppable.begin(), steppable.end(), lastUsed);
    if (at == steppable.end())
        return steppable.front();
    return at + 1 == steppable.end() ? steppable.front() : *(at + 1);
}

} // namespace Core
