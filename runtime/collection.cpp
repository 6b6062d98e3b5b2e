#include "runtime/collection.h"

#include <limits>
#include <new>

#include "runtime/error.h"

namespace runtime {

void Collection::Add(std::wstring item) {
    if (items_.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        Raise(kOutOfMemory);
    }
    try {
        items_.push_back(std::move(item));
    } catch (const std::bad_alloc&) {
        Raise(kOutOfMemory);
    }
}

std::int32_t Collection::Count() const noexcept { return static_cast<std::int32_t>(items_.size()); }

const std::wstring& Collection::Item(std::int32_t position) const {
    if (position < 1 || position > Count()) Raise(kSubscriptOutOfRange);
    return items_[static_cast<std::size_t>(position - 1)];
}

}  // namespace runtime
