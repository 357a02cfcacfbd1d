#pragma once

#include <vector>

namespace Core {

// The keys that step a dimension over the views, whatever toolkit delivered them.
enum class StepKey { Previous, Next, PageBack, PageForward, Home, End };

// Where a dimension of `size` moves from `current` on `key`: one or ten steps, or to an end,
// stopping at the ends.
int SteppedIndex(int current, int size, StepKey key);

// The dimension Alt steps: the next one after `lastUsed` among `steppable` (dimensions with a
// slider and more than one index), wrapping; `lastUsed` itself when it is the only one, -1
// when there is none.
int NextStepDim(const std::vector<int>& steppable, int lastUsed);

} // namespace Core
