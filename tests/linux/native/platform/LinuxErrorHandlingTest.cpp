#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "TestSupport.h"

// The C library makes up "Unknown error <code>" for a code it has no text for: no description.
TEST(LinuxSystemErrorText, CodeUnknownToTheLibraryHasNoDescriptionAvailable) {
    EXPECT_STREQ(
        "m. System error [4000](system error 4000 (No description available))",
        SysError(tstrings::TextBuilder() << "m", testsupport::systemLibraryFunction(), 4000)
            .what());
}
