// Expects a statement to raise EComPort with an exact code, OS code and message.
#pragma once

#include "CPort.h"

#include <gtest/gtest.h>

#define EXPECT_COM_ERROR(AStatement, ACode, AWinCode, AMessage)                                    \
    do {                                                                                           \
        try {                                                                                      \
            AStatement;                                                                            \
            ADD_FAILURE() << "no EComPort from " #AStatement;                                      \
        } catch (const ::cport::EComPort& e) {                                                     \
            EXPECT_EQ(e.Code(), ACode);                                                            \
            EXPECT_EQ(e.WinCode(), AWinCode);                                                      \
            EXPECT_STREQ(e.what(), AMessage);                                                      \
        }                                                                                          \
    } while (false)
