#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "MessageBoxLogAppender.h"
#include "TestSupport.h"
#include "app.h"

// What the windowed launcher would show, seen through the seam instead of a blocking box: the
// error once, titled with the executable's name, and nothing on success.
TEST(MessageBoxLogAppender, ShowsTheErrorOnceTitledWithTheExecutable) {
    const testsupport::LogRecorder restoresTheLogger;
    std::vector<std::pair<tstring, tstring>> shown;
    MessageBoxLogAppender box([&shown](const tstring& text, const tstring& caption) {
        shown.emplace_back(text, caption);
    });
    EXPECT_EQ(0, app::launch([] {}, &box));
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(1, app::launch([] { VT_RAISE("caf\xc3\xa9 failed"); }, &box));
    EXPECT_EQ(1, app::launch([] { VT_RAISE("second failure"); }, &box));
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ(L"caf\u00e9 failed", shown[0].first);
    EXPECT_EQ(L"vantrel_unit_tests", shown[0].second);
}
