#include <gtest/gtest.h>

#include <functional>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "IcoFile.h"
#include "TestSupport.h"

namespace {

// BMP images of 16, 32 and 48 pixels and a PNG of 256, the PNG last at offset 5054.
Bytes sampleIcon() {
    const std::string bytes =
        testsupport::readFile(FileUtils::joinPath(testsupport::binaryDir(), L"pe-test.ico"));
    return Bytes(bytes.begin(), bytes.end());
}

} // namespace

TEST(IcoFile, ReadsEveryBmpAndPngImageAsStored) {
    const Bytes file = sampleIcon();
    std::vector<std::vector<int>> found;
    for (const IconImage& i : parseIcoFile(file, L"app.ico")) {
        found.push_back(
            {i.width, i.height, i.colorCount, i.planes, i.bitCount, int(i.data.size())});
    }
    // The PNG's bits come from its header, its 0 size means 256.
    EXPECT_EQ((std::vector<std::vector<int>>{{16, 16, 0, 1, 32, 1128},
                                             {32, 32, 0, 1, 8, 2216},
                                             {48, 48, 16, 1, 4, 1640},
                                             {0, 0, 0, 1, 32, 665}}),
              found);
    EXPECT_EQ(Bytes(file.end() - 665, file.end()), parseIcoFile(file, L"app.ico")[3].data);
}

TEST(IcoFile, MalformedFilesAreRefusedWithOneClearError) {
    const std::size_t entry = 6;
    const std::size_t png = 5054;
    const std::pair<std::function<void(Bytes&)>, const char*> cases[] = {
        {[](Bytes& f) { f.clear(); }, "truncated: 2 bytes at offset 0 lie beyond its 0 bytes"},
        {[](Bytes& f) { put16(f, 2, 2); }, "not an .ico file"},
        {[](Bytes& f) { put16(f, 4, 0); }, "it holds no image"},
        {[](Bytes& f) { put16(f, 4, 60000); },
         "its directory announces 60000 images, more than its 5719 bytes can hold"},
        {[](Bytes& f) { f.resize(5000); },
         "an image of 1640 bytes at offset 3414 lies outside the file's 5000 bytes"},
        {[&](Bytes& f) { put32(f, entry + 8, 0); }, "an image of 0 bytes at offset 70"},
        {[&](Bytes& f) { put32(f, entry + 12, 0xFFFFFFF0); }, "at offset 4294967280 lies outside"},
        {[](Bytes& f) { put32(f, 70, 12); }, "an image is neither PNG nor a BMP with a complete"},
        {[](Bytes& f) { put16(f, 70 + 12, 0); }, "a BMP image has 0 planes of 32 bits"},
        {[&](Bytes& f) { f[png + 12] = 'X'; }, "a PNG image does not start with its IHDR chunk"},
        {[&](Bytes& f) { f[png + 25] = 5; }, "a PNG image has an unknown colour type"},
    };
    for (const auto& c : cases) {
        Bytes file = sampleIcon();
        c.first(file);
        try {
            parseIcoFile(file, L"bad.ico");
            ADD_FAILURE() << c.second << ": accepted";
        } catch (const VtError<std::runtime_error>& e) {
            const std::string message = e.bareMessage();
            EXPECT_EQ(0u, message.rfind("Invalid icon file \"bad.ico\": ", 0)) << message;
            EXPECT_NE(std::string::npos, message.find(c.second)) << message;
        }
    }
}
