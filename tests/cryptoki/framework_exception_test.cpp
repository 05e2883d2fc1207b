// Framework error objects and the boundary's mapping of every kind of exception.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ckbase/exception.h"
#include "tru2/exception.h"

namespace {

TEST(FrameworkExceptionTest, TextsAndCodes) {
    EXPECT_STREQ("", zrck::Exception(CKR_PIN_LOCKED).what());
    EXPECT_STREQ("Buffer too small", zrck::BufferTooSmallException().what());
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, zrck::BufferTooSmallException().GetCode());
    try {
        throw zrck::ObjNotFoundException(CKR_SLOT_ID_INVALID, "ignored");
    } catch (const zrck::Exception& e) {
        EXPECT_EQ(CKR_SLOT_ID_INVALID, e.GetCode());
        EXPECT_STREQ("", e.what());
    }
    // Whatever locale the system has, a wide text never makes the constructor fail.
    zrck::Exception wide(CKR_GENERAL_ERROR, std::wstring(L"ok\u0442"));
    EXPECT_EQ(3u, std::string(wide.what()).size());
    EXPECT_EQ('o', wide.what()[0]);
}

TEST(FrameworkExceptionTest, BoundaryMapping) {
    auto resultOf = [](auto thrown) {
        try {
            throw thrown;
        } catch (...) {
            return zrck::ResultOfException(std::current_exception());
        }
    };
    EXPECT_EQ(CKR_GENERAL_ERROR, resultOf(zrck::Exception(CKR_OK)));
    EXPECT_EQ(CKR_PIN_LOCKED, resultOf(zrck::Exception(CKR_PIN_LOCKED)));
    EXPECT_EQ(CKR_FUNCTION_FAILED, resultOf(tru::Exception(0x80090020)));
    EXPECT_EQ(CKR_GENERAL_ERROR, resultOf(std::bad_alloc()));
    EXPECT_EQ(CKR_GENERAL_ERROR, resultOf(7));
}

}  // namespace
