// The enumeration order of a folder's files, and the choice of its first few.
// May contain: portable code only; both backends list their own way and
// leave the ordering to this.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "base/text.h"

/// Leaves in `items` the first `limit` of them by the enumeration order
/// (lessNoCase of `nameOf(item)`), in that order. What lies beyond the limit
/// is only partitioned off, in linear time, and never sorted.
template <class T, class NameOf>
void keepFirstByName(std::vector<T>& items, std::size_t limit, NameOf nameOf) {
    const auto less = [&](const T& a, const T& b) { return lessNoCase(nameOf(a), nameOf(b)); };
    if (items.size() > limit) {
        std::nth_element(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(limit), items.end(), less);
        items.resize(limit);
    }
    std::sort(items.begin(), items.end(), less);
}
