// Checks that a statement raises the run-time error with the given number.
#pragma once

#include "gtest/gtest.h"
#include "runtime/error.h"

#define EXPECT_RUNTIME_ERROR(statement, number)                                        \
    do {                                                                                \
        try {                                                                           \
            statement;                                                                  \
            ADD_FAILURE() << #statement << " raised nothing, expected error " << number; \
        } catch (const runtime::RuntimeError& error) {                                  \
            EXPECT_EQ(number, error.Number()) << #statement;                            \
        }                                                                               \
    } while (false)
