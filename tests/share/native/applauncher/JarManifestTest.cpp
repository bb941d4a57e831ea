#include <gtest/gtest.h>

#include <zlib.h>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JarManifest.h"
#include "TestSupport.h"

namespace {

TEST(JarManifest, MainClassOfTheMainAttributes) {
    const struct {
        const char* manifest;
        const wchar_t* mainClass;
    } cases[] = {
        {"Manifest-Version: 1.0\r\nMain-Class: app.Main\r\n\r\n", L"app.Main"},
        {"main-class:  app.Main", L"app.Main"},
        // Lines wrap at 72 bytes.
        {"Main-Class: com.example.very.long.packag\n e.name.Main\nX: y\n",
         L"com.example.very.long.package.name.Main"},
        {"Manifest-Version: 1.0\n", L""},
        {"Manifest-Version: 1.0\n\nName: a/B.class\nMain-Class: a.B\n", L""},
        {"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JarManifest::mainClassOf(c.manifest), c.mainClass) << c.manifest;
    }
}

TEST(JarManifest, ClassPathOfRelativeFileUrlsOnly) {
    const tstring dir = FileUtils::joinPath(L"app", L"lib");
    const tstring_array expected{FileUtils::joinPath(dir, L"a.jar"),
                                 FileUtils::PathBuilder() << dir << L"x" << L"b c.jar"};
    EXPECT_EQ(JarManifest::classPathOf(dir, "Class-Path: a.jar /b.jar  http://h/c.jar x/b%20c.jar"),
              expected);
}

void put(std::string& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes += static_cast<char>((value >> (8 * i)) & 0xff);
    }
}

std::string rawDeflate(const std::string& text) {
    z_stream zs = {};
    deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, text.size()), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    zs.avail_in = static_cast<uInt>(text.size());
    zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// A zip archive of one entry, stored (method 0) or deflated (8), behind some leading bytes.
std::string zipOf(const std::string& name, const std::string& text, int method) {
    const std::string data = method == 0 ? text : rawDeflate(text);
    std::string zip = "leading bytes";
    const std::uint32_t offset = static_cast<std::uint32_t>(zip.size());
    put(zip, 0x04034b50, 4);
    put(zip, 20, 2), put(zip, 0, 2), put(zip, method, 2), put(zip, 0, 4), put(zip, 0, 4);
    put(zip, data.size(), 4), put(zip, text.size(), 4), put(zip, name.size(), 2), put(zip, 0, 2);
    zip += name + data;
    const std::uint32_t directory = static_cast<std::uint32_t>(zip.size());
    put(zip, 0x02014b50, 4);
    put(zip, 20, 2), put(zip, 20, 2), put(zip, 0, 2), put(zip, method, 2), put(zip, 0, 4);
    put(zip, 0, 4), put(zip, data.size(), 4), put(zip, text.size(), 4), put(zip, name.size(), 2);
    put(zip, 0, 2), put(zip, 0, 2), put(zip, 0, 2), put(zip, 0, 2), put(zip, 0, 4);
    put(zip, offset, 4);
    zip += name;
    const std::uint32_t directorySize = static_cast<std::uint32_t>(zip.size()) - directory;
    put(zip, 0x06054b50, 4);
    put(zip, 0, 4), put(zip, 1, 2), put(zip, 1, 2), put(zip, directorySize, 4);
    put(zip, directory, 4), put(zip, 0, 2);
    return zip;
}

TEST(JarManifest, ReadsStoredAndDeflatedManifestsAndRefusesOtherFiles) {
    const testsupport::TempDir dir;
    const tstring jar = FileUtils::joinPath(dir.path(), L"app.jar");
    const std::string manifest = "Manifest-Version: 1.0\r\nMain-Class: app.Main\r\n\r\n";
    // A self-executing jar: a start script in front of the archive moves every offset.
    for (const std::string prefix : {"", "#!/bin/sh\nexec java -jar \"$0\" \"$@\"\n"}) {
        for (const int method : {0, 8}) {
            testsupport::writeFile(jar, prefix + zipOf("META-INF/MANIFEST.MF", manifest, method));
            EXPECT_EQ(JarManifest::readMainClass(jar), L"app.Main") << method << prefix;
        }
    }
    testsupport::writeFile(jar, zipOf("META-INF/OTHER", manifest, 8));
    EXPECT_EQ(JarManifest::readMainClass(jar), L"");

    const std::string whole = zipOf("META-INF/MANIFEST.MF", manifest, 8);
    for (const std::string& broken : {std::string("not a zip"), whole.substr(0, whole.size() - 30),
                                      whole.substr(0, 40) + whole.substr(60)}) {
        testsupport::writeFile(jar, broken);
        try {
            JarManifest::readMainClass(jar);
            ADD_FAILURE() << "read a broken jar";
        } catch (const VtErrorBase& error) {
            EXPECT_EQ(error.bareMessage(), "not a jar file: " + tstrings::toUtf8(jar));
        }
    }
}

} // namespace
