#include "WinHandle.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

HANDLE makeEvent() {
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

bool isOpen(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != 0;
}

} // namespace

TEST(WinHandle, EachKindKnowsItsEmptyValue) {
    EXPECT_EQ(nullptr, UniqueHandle().get());
    EXPECT_FALSE(UniqueHandle());
    EXPECT_EQ(INVALID_HANDLE_VALUE, UniqueFileHandle().get());
    EXPECT_FALSE(UniqueFileHandle());
    // A null file handle is no "no handle" marker for files: it is owned as given.
    EXPECT_TRUE(UniqueFileHandle(nullptr));
}

TEST(WinHandle, OwnerClosesOnceWhateverPathTheHandleTakes) {
    const HANDLE first = makeEvent();
    const HANDLE second = makeEvent();
    ASSERT_TRUE(first && second);
    {
        UniqueHandle owner(first);
        UniqueHandle moved(std::move(owner));
        EXPECT_FALSE(owner);
        EXPECT_EQ(first, moved.get());
        EXPECT_TRUE(isOpen(first));

        moved.reset(second);
        EXPECT_FALSE(isOpen(first));
        EXPECT_TRUE(isOpen(second));

        UniqueHandle target;
        target = std::move(moved);
        EXPECT_EQ(second, target.get());
        EXPECT_FALSE(moved);
    }
    EXPECT_FALSE(isOpen(second));

    const HANDLE third = makeEvent();
    ASSERT_TRUE(third);
    {
        UniqueHandle owner(third);
        EXPECT_EQ(third, owner.release());
        EXPECT_FALSE(owner);
    }
    EXPECT_TRUE(isOpen(third));
    CloseHandle(third);
}
