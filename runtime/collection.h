// The value-name list: an ordered list of strings with 1-based access.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace runtime {

class Collection {
public:
    // Appends at the end; equal items may stand side by side.
    void Add(std::wstring item);
    std::int32_t Count() const noexcept;
    // The item at a position from 1 to Count; any other position raises error 9.
    const std::wstring& Item(std::int32_t position) const;

private:
    std::vector<std::wstring> items_;
};

}  // namespace runtime
