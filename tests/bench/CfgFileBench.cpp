// Loading and expanding configuration files of growing length: the cost per line must not grow.
#include <string>

#include <benchmark/benchmark.h>

#include "CfgFile.h"
#include "FileUtils.h"
#include "TestSupport.h"

namespace {

// A packager's file grown to the given number of lines, every value kept: half of them in
// "Application", half in "JavaOptions", with comments and empty lines among them.
std::string configText(int lines) {
    static const char* const applicationLines[] = {
        "app.classpath=$APPDIR\\lib\\library-with-a-longer-name.jar\r\n",
        "app.mainclass=com.example.Main\r\n",
        "; a comment line\r\n",
        "app.runtime=$ROOTDIR\\runtime\r\n",
        "\r\n",
    };
    static const char* const javaOptionLines[] = {
        "java-options=-Dapp.home=$APPDIR -Dbin=$BINDIR\r\n",
        "java-options=-Xmx512m\r\n",
    };
    std::string text = "[Application]\r\n";
    for (int i = 1; i < lines / 2; ++i) {
        text += applicationLines[i % 5];
    }
    text += "[JavaOptions]\r\n";
    for (int i = lines / 2 + 1; i < lines; ++i) {
        text += javaOptionLines[i % 2];
    }
    return text;
}

void loadAndExpand(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    testsupport::TempDir dir;
    const tstring path = FileUtils::joinPath(dir.path(), L"app.cfg");
    testsupport::writeFile(path, configText(lines));
    const MacroTable macros = {{L"$APPDIR", L"C:\\Program Files\\Example\\app"},
                               {L"$BINDIR", L"C:\\Program Files\\Example"},
                               {L"$ROOTDIR", L"C:\\Program Files\\Example"}};
    for (auto _ : state) {
        const CfgFile resolved = CfgFile::load(path).resolveMacros(macros);
        benchmark::DoNotOptimize(resolved.sections().size());
    }
    state.counters["per_line"] = benchmark::Counter(
        lines, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(loadAndExpand)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
