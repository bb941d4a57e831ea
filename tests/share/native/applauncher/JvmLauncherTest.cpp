#include "JvmLauncher.h"

#include <cstring>
#include <iomanip>
#include <sstream>

#include <gtest/gtest.h>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "SysInfo.h"
#include "TestSupport.h"

namespace {

const tstring exe = L"C:\\app\\hello.exe";

tstring appPathOption() {
    return L"-Dvantrel.app-path=" + SysInfo::getExecutablePath();
}

tstring hexAddress(const void* address) {
    std::wostringstream text;
    text << std::hex << std::uppercase << std::setw(16) << std::setfill(L'0')
         << reinterpret_cast<std::uintptr_t>(address);
    return text.str();
}

struct Put {
    const SectionId& section;
    const PropertyId& property;
    tstring_array values;
};

TEST(JvmCommandLine, EachPropertyAddsItsElementsInTheFixedOrder) {
    testsupport::LogRecorder log;
    testsupport::TempDir temp;
    const tstring splashFile = FileUtils::joinPath(temp.path(), L"splash.png");
    testsupport::writeFile(splashFile, "png");
    const tstring app = appPathOption();
    const tstring joined = tstring(L"A") + FileUtils::pathListSeparator + L"B";
    using namespace SectionName;
    using namespace PropertyName;

    const struct {
        const char* name;
        std::vector<Put> config;
        tstring_array expected;
    } cases[] = {
        {"nothing", {}, {exe, app}},
        {"module paths",
         {{Application, modulepath, {L"A", L"B"}}},
         {exe, L"--module-path", L"A", L"--module-path", L"B", app}},
        {"class path", {{Application, classpath, {L"A", L"B"}}}, {exe, L"-classpath", joined, app}},
        {"one class path", {{Application, classpath, {L"A"}}}, {exe, L"-classpath", L"A", app}},
        {"splash directory",
         {{Application, splash, {L"gone", temp.path()}}},
         {exe, L"-splash:" + temp.path(), app}},
        {"main jar", {{Application, mainjar, {L"1.jar", L"2.jar"}}}, {exe, app, L"-jar", L"2.jar"}},
        {"main module, class, jar",
         {{Application, mainjar, {L"j.jar"}},
          {Application, mainclass, {L"C1", L"C2"}},
          {Application, mainmodule, {L"m/X", L"m/M"}}},
         {exe, app, L"-m", L"m/M", L"C2", L"-jar", L"j.jar"}},
        {"java options",
         {{JavaOptions, javaOptions, {L"-Xmx1g", L"-Dy"}}, {Application, mainclass, {L"Main"}}},
         {exe, L"-Xmx1g", L"-Dy", app, L"Main"}},
        {"arguments",
         {{ArgOptions, arguments, {L"A", L"B"}}, {Application, mainclass, {L"Main"}}},
         {exe, app, L"Main", L"A", L"B"}},
        {"wrong sections",
         {{Application, javaOptions, {L"-X"}},
          {ArgOptions, mainclass, {L"M"}},
          {Application, arguments, {L"a"}}},
         {exe, app}},
        {"unused properties",
         {{Application, memory, {L"auto"}},
          {Application, version, {L"1"}},
          {Application, runtime, {L"rt"}},
          {Application, winNorestart, {L"true"}},
          {AppCDSJavaOptions, javaOptions, {L"-X"}},
          {AppCDSGenerateCacheJavaOptions, javaOptions, {L"-Y"}}},
         {exe, app}},
        {"everything",
         {{ArgOptions, arguments, {L"a1", L"a2"}},
          {Application, mainjar, {L"app.jar"}},
          {Application, mainclass, {L"Main"}},
          {Application, mainmodule, {L"mod/M"}},
          {JavaOptions, javaOptions, {L"-Xss1m", L"-Da=b=c"}},
          {Application, splash, {splashFile}},
          {Application, classpath, {L"c.jar"}},
          {Application, modulepath, {L"mp"}}},
         {exe, L"--module-path", L"mp", L"-classpath", L"c.jar", L"-splash:" + splashFile,
          L"-Xss1m", L"-Da=b=c", app, L"-m", L"mod/M", L"Main", L"-jar", L"app.jar", L"a1", L"a2"}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        CfgFile cfg;
        for (const Put& put : testCase.config) {
            cfg.putProperty(put.section, put.property, put.values);
        }
        Jvm jvm;
        jvm.appendArgument(exe).initFromConfigFile(cfg);
        EXPECT_EQ(testCase.expected, jvm.getArguments());
    }
    EXPECT_TRUE(log.at(L"WARNING").empty());
}

TEST(JvmCommandLine, MissingSplashFileIsDroppedWithOneWarning) {
    testsupport::LogRecorder log;
    testsupport::TempDir temp;
    const tstring missing = FileUtils::joinPath(temp.path(), L"none.png");
    CfgFile cfg;
    cfg.putProperty(SectionName::Application, PropertyName::splash, {missing});

    Jvm jvm;
    jvm.initFromConfigFile(cfg);
    EXPECT_EQ((tstring_array{appPathOption()}), jvm.getArguments());
    EXPECT_EQ((tstring_array{L"Splash property ignored. File \"" + missing + L"\" not found"}),
              log.messages(L"WARNING"));
}

TEST(JvmSplashOption, OnlyTheExactLowerCasePrefixCounts) {
    testsupport::LogRecorder log;
    Jvm jvm;
    EXPECT_FALSE(jvm.hasSplashOption());
    jvm.appendArgument(L"-SPLASH:x.png").appendArgument(L"x-splash:").appendArgument(L"-splash");
    EXPECT_FALSE(jvm.hasSplashOption());
    jvm.appendArgument(L"-splash:");
    EXPECT_TRUE(jvm.hasSplashOption());
}

TEST(JvmObject, TracesConstructionAndDestructionWithItsAddress) {
    testsupport::LogRecorder log;
    tstring address;
    {
        Jvm jvm;
        address = hexAddress(&jvm);
    }
    EXPECT_EQ((tstring_array{L"Jvm(" + address + L")::Jvm()", L"Jvm(" + address + L")::~Jvm()"}),
              log.messages(L"TRACE", L"Jvm("));
}

TEST(JvmObject, ApplyEnvVariablesSetsEachPairAndStopsAtTheFirstFailure) {
    testsupport::LogRecorder log;
    Jvm jvm;
    jvm.appendEnvVariable(L"VANTREL_JVMTEST_FIRST", L"one")
        .appendEnvVariable(L"VANTREL_JVMTEST_BAD=NAME", L"two")
        .appendEnvVariable(L"VANTREL_JVMTEST_THIRD", L"three");
    EXPECT_ANY_THROW(jvm.applyEnvVariables());
    EXPECT_EQ(L"one", SysInfo::getEnvVariable(std::nothrow, L"VANTREL_JVMTEST_FIRST", L"unset"));
    EXPECT_EQ(L"unset", SysInfo::getEnvVariable(std::nothrow, L"VANTREL_JVMTEST_THIRD", L"unset"));
}

// --- The launch data buffer ---

// Closes the handle however the test ends.
class LaunchHandle {
public:
    explicit LaunchHandle(const Jvm& jvm) : handle(makeLaunchData(jvm).release()) {}
    ~LaunchHandle() { closeHandle(handle); }
    LaunchHandle(const LaunchHandle&) = delete;
    LaunchHandle& operator=(const LaunchHandle&) = delete;
    void* get() const { return handle; }

private:
    void* handle;
};

const unsigned char* pointerAt(const unsigned char* base, std::size_t offset) {
    const unsigned char* pointer;
    std::memcpy(&pointer, base + offset, sizeof(pointer));
    return pointer;
}

std::int32_t int32At(const unsigned char* base, std::size_t offset) {
    std::int32_t value;
    std::memcpy(&value, base + offset, sizeof(value));
    return value;
}

std::string bytesAt(const unsigned char* base, std::size_t from, std::size_t to) {
    return std::string(reinterpret_cast<const char*>(base) + from,
                       reinterpret_cast<const char*>(base) + to);
}

std::u16string unitsAt(const unsigned char* base, std::size_t from, std::size_t to) {
    std::u16string units((to - from) / 2, u'\0');
    std::memcpy(&units[0], base + from, to - from);
    return units;
}

class JvmlLauncherDataTest : public ::testing::Test {
protected:
    JvmlLauncherDataTest() {
        jvm.setLauncherLibPath(L"C:\\r\\bin\\jli.dll");
        jvm.appendArgument(L"C:\\a.exe").appendArgument(L"-Dx");
    }

    // The worked record without environment: every byte of the 94.
    void expectArgumentsOnlyLayout(const unsigned char* base) {
        EXPECT_EQ(base + 40, pointerAt(base, 0));
        EXPECT_EQ(2, int32At(base, 8));
        EXPECT_EQ(0, int32At(base, 12));
        EXPECT_EQ(base + 57, pointerAt(base, 16));
        EXPECT_EQ(base + 94, pointerAt(base, 24));
        EXPECT_EQ(base + 94, pointerAt(base, 32));
        EXPECT_EQ(std::string("C:\\r\\bin\\jli.dll", 17), bytesAt(base, 40, 57));
        EXPECT_EQ(base + 81, pointerAt(base, 57));
        EXPECT_EQ(base + 90, pointerAt(base, 65));
        EXPECT_EQ(nullptr, pointerAt(base, 73));
        EXPECT_EQ(std::string("C:\\a.exe", 9), bytesAt(base, 81, 90));
        EXPECT_EQ(std::string("-Dx", 4), bytesAt(base, 90, 94));
    }

    testsupport::LogRecorder log;
    Jvm jvm;
};

TEST_F(JvmlLauncherDataTest, ArgumentsOnlyRecordMatchesTheWorkedLayout) {
    LaunchHandle handle(jvm);
    ASSERT_EQ(94, getJvmlLauncherDataSize(handle.get()));
    std::vector<unsigned char> block(94, 0xEE);
    ASSERT_EQ(static_cast<void*>(block.data()),
              initJvmlLauncherData(handle.get(), block.data(), 94));
    expectArgumentsOnlyLayout(block.data());
}

TEST_F(JvmlLauncherDataTest, EnvironmentPairFollowsTheArgumentsAsUtf16) {
    jvm.appendEnvVariable(L"PATH", L"x;y");
    LaunchHandle handle(jvm);
    ASSERT_EQ(128, getJvmlLauncherDataSize(handle.get()));
    std::vector<unsigned char> block(128, 0xEE);
    const unsigned char* base = block.data();
    ASSERT_EQ(static_cast<void*>(block.data()),
              initJvmlLauncherData(handle.get(), block.data(), 128));

    EXPECT_EQ(1, int32At(base, 12));
    EXPECT_EQ(base + 94, pointerAt(base, 24));
    EXPECT_EQ(base + 112, pointerAt(base, 32));
    EXPECT_EQ(base + 102, pointerAt(base, 94));
    EXPECT_EQ(std::u16string(u"PATH", 5), unitsAt(base, 102, 112));
    EXPECT_EQ(base + 120, pointerAt(base, 112));
    EXPECT_EQ(std::u16string(u"x;y", 4), unitsAt(base, 120, 128));
    EXPECT_EQ(base + 57, pointerAt(base, 16));
}

TEST_F(JvmlLauncherDataTest, PathIsUtf8AndEnvironmentTextsAreUtf16CodeUnits) {
    jvm.setLauncherLibPath(L"C:\\\u00e9");
    jvm.appendEnvVariable(L"N", L"\u00e9\U0001F600");
    LaunchHandle handle(jvm);
    // 40 + 6 path + 24 + 13 args + 8 + 4 name + 8 + 8 value
    ASSERT_EQ(111, getJvmlLauncherDataSize(handle.get()));
    std::vector<unsigned char> block(111);
    const unsigned char* base = block.data();
    ASSERT_NE(nullptr, initJvmlLauncherData(handle.get(), block.data(), 111));
    EXPECT_EQ(std::string("C:\\\xC3\xA9", 6), bytesAt(base, 40, 46));
    EXPECT_EQ(base + 95, pointerAt(base, 32));
    EXPECT_EQ(base + 103, pointerAt(base, 95));
    EXPECT_EQ(std::u16string(u"\u00e9\xD83D\xDE00", 4), unitsAt(base, 111 - 8, 111));
}

TEST_F(JvmlLauncherDataTest, BufferIsFilledOnlyWhenLargeEnoughAlignedOrNot) {
    LaunchHandle handle(jvm);
    std::vector<unsigned char> block(101, 0x5A);
    unsigned char* base = block.data() + 3;
    EXPECT_EQ(nullptr, initJvmlLauncherData(handle.get(), base, 93));
    EXPECT_EQ(nullptr, initJvmlLauncherData(handle.get(), base, -1));
    EXPECT_EQ(std::vector<unsigned char>(101, 0x5A), block);
    EXPECT_TRUE(log.at(L"ERROR").empty());

    ASSERT_EQ(static_cast<void*>(base), initJvmlLauncherData(handle.get(), base, 98));
    expectArgumentsOnlyLayout(base);
}

TEST_F(JvmlLauncherDataTest, SizingAndFillingTraceTheSameSize) {
    LaunchHandle handle(jvm);
    std::vector<unsigned char> block(94);
    log.clear();
    const int size = getJvmlLauncherDataSize(handle.get());
    ASSERT_NE(nullptr, initJvmlLauncherData(handle.get(), block.data(), size));

    EXPECT_EQ((tstring_array{L"Need 94 bytes for JvmlLauncherData buffer",
                             L"Need 94 bytes for JvmlLauncherData buffer",
                             L"Initialized 94 bytes at " + hexAddress(block.data()) + L" address"}),
              log.messages(L"TRACE"));
}

TEST_F(JvmlLauncherDataTest, HandleFunctionsLogFailuresInsteadOfRaising) {
    std::vector<unsigned char> block(94);
    closeHandle(nullptr);
    EXPECT_TRUE(log.at(L"ERROR").empty());

    EXPECT_EQ(-1, getJvmlLauncherDataSize(nullptr));
    EXPECT_EQ(nullptr, initJvmlLauncherData(nullptr, block.data(), 94));
    LaunchHandle handle(jvm);
    EXPECT_EQ(nullptr, initJvmlLauncherData(handle.get(), nullptr, 94));

    const std::vector<LogEvent> errors = log.at(L"ERROR");
    ASSERT_EQ(3u, errors.size());
    EXPECT_EQ(L"JvmLauncher.cpp", errors[0].file);
    EXPECT_EQ(L"getJvmlLauncherDataSize", errors[0].function);
    EXPECT_NE(tstring::npos, errors[0].message.find(L"(): Null JliLaunchData handle' caught"));
    EXPECT_EQ(L"initJvmlLauncherData", errors[1].function);
    EXPECT_NE(tstring::npos, errors[1].message.find(L"(): Null JliLaunchData handle' caught"));
    EXPECT_NE(tstring::npos, errors[2].message.find(L"(): Null JvmlLauncherData buffer' caught"));
}

} // namespace
