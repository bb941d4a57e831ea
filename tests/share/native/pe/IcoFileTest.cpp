#include <gtest/gtest.h>

#include <functional>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "IcoFile.h"
#include "TestSupport.h"

namespace {

Bytes sampleIcon() {
    const std::string bytes =
        testsupport::readFile(FileUtils::joinPath(testsupport::binaryDir(), L"pe-test.ico"));
    return Bytes(bytes.begin(), bytes.end());
}

} // namespace

TEST(IcoFile, ReadsEveryBmpAndPngImageAsStored) {
    const Bytes file = sampleIcon();
    const std::vector<IconImage> images = parseIcoFile(file, L"app.ico");
    ASSERT_EQ(4u, images.size());
    // width, height, colours, bits, bytes; the PNG's bits come from its header
    const int expected[][5] = {
        {16, 16, 0, 32, 1128}, {32, 32, 0, 8, 2216}, {48, 48, 16, 4, 1640}, {0, 0, 0, 32, 665}};
    for (int i = 0; i < 4; ++i) {
        const IconImage& image = images[i];
        EXPECT_EQ((std::vector<int>(expected[i], expected[i] + 5)),
                  (std::vector<int>{image.width, image.height, image.colorCount, image.bitCount,
                                    int(image.data.size())}))
            << i;
        EXPECT_EQ(1, image.planes);
    }
    EXPECT_EQ(Bytes(file.end() - 665, file.end()), images[3].data);
}

TEST(IcoFile, MalformedFilesAreRefusedWithOneClearError) {
    const Bytes good = sampleIcon();
    const std::size_t firstEntry = 6;
    const std::size_t png = 5054;
    struct Case {
        std::function<void(Bytes&)> damage;
        const char* message;
    };
    const Case cases[] = {
        {[](Bytes& f) { f.clear(); }, "truncated: 2 bytes at offset 0 lie beyond its 0 bytes"},
        {[](Bytes& f) { put16(f, 2, 2); }, "not an .ico file"},
        {[](Bytes& f) { put16(f, 4, 0); }, "it holds no image"},
        {[](Bytes& f) { put16(f, 4, 60000); },
         "its directory announces 60000 images, more than its 5719 bytes can hold"},
        {[](Bytes& f) { f.resize(5000); },
         "an image of 1640 bytes at offset 3414 lies outside the file's 5000 bytes"},
        {[&](Bytes& f) { put32(f, firstEntry + 8, 0); }, "an image of 0 bytes at offset 70"},
        {[&](Bytes& f) { put32(f, firstEntry + 12, 0xFFFFFFF0); },
         "an image of 1128 bytes at offset 4294967280 lies outside"},
        {[&](Bytes& f) { put32(f, firstEntry + 12, 6); }, "at offset 6 lies outside"},
        {[](Bytes& f) { put32(f, 70, 12); },
         "an image is neither PNG nor a BMP with a complete header"},
        {[](Bytes& f) { put16(f, 70 + 12, 0); }, "a BMP image has 0 planes of 32 bits"},
        {[&](Bytes& f) { f[png + 12] = 'X'; }, "a PNG image does not start with its IHDR chunk"},
        {[&](Bytes& f) { f[png + 25] = 5; }, "a PNG image has an unknown colour type"},
    };
    for (const Case& c : cases) {
        Bytes file = good;
        c.damage(file);
        try {
            parseIcoFile(file, L"bad.ico");
            ADD_FAILURE() << c.message << ": accepted";
        } catch (const VtError<std::runtime_error>& e) {
            const std::string message = e.bareMessage();
            EXPECT_EQ(0u, message.rfind("Invalid icon file \"bad.ico\": ", 0)) << message;
            EXPECT_NE(std::string::npos, message.find(c.message)) << message;
        }
    }
}
