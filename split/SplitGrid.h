#pragma once
// The split grid as the logic sees it. Placeholder until the split grid lands.
namespace dervix {
class SplitGrid {};
}  // namespace dervix
