#pragma once

#include <new>

#include "runtime/error.h"

namespace runtime {

void ReportUnexpectedException() noexcept;

template <typename Handler>
void RunHandler(Handler&& handler) noexcept {
    try {
        handler();
    } catch (const RuntimeError& error) {
        ReportUnhandledError(error.Number());
    } catch (const std::bad_alloc&) {
        ReportUnhandledError(kOutOfMemory);
    } catch (...) {
        ReportUnexpectedException();
    }
}

}  // namespace runtime
