// Run-time errors: the one way failures travel up the call chain.
#pragma once

#include <exception>

namespace runtime {

enum ErrorNumber : int {
    kInvalidProcedureCall = 5,
    kOverflow = 6,
    kOutOfMemory = 7,
    kSubscriptOutOfRange = 9,
    kDllNotLoaded = 48,
    kInternalError = 51,
    kFileNotFound = 53,
    kPermissionDenied = 70,
    kPathFileAccessError = 75,
    kResourceNotFound = 326,
    // A window or control that Windows would not make: it cannot be loaded.
    kWindowNotCreated = 361,
    kInvalidPropertyValue = 380,
    kDllFunctionNotFound = 453,
};

class RuntimeError : public std::exception {
public:
    explicit RuntimeError(int number) noexcept : number_(number) {}
    int Number() const noexcept { return number_; }
    const char* what() const noexcept override { return "run-time error"; }

private:
    int number_;
};

[[noreturn]] void Raise(int number);

// The Galician description shown to the user for an error number.
const wchar_t* ErrorDescription(int number) noexcept;

}  // namespace runtime
