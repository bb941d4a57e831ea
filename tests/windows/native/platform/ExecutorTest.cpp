#include "Executor.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "ErrorHandling.h"
#include "Log.h"
#include "TestSupport.h"
#include "Toolbox.h"

#include <shellapi.h>

namespace {

// Children get a copy of this process's environment, so that is where their settings go.
class ScopedEnvVariable {
public:
    ScopedEnvVariable(const tstring& name, const tstring& value) : name(name) {
        wchar_t buffer[32768];
        const DWORD length = GetEnvironmentVariableW(name.c_str(), buffer, 32768);
        if (length > 0 && length < 32768) {
            previous = tstring(buffer, length);
        }
        SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    ~ScopedEnvVariable() {
        SetEnvironmentVariableW(name.c_str(), previous ? previous->c_str() : nullptr);
    }

private:
    tstring name;
    std::optional<tstring> previous;
};

tstring_array splitLikeTheChild(const tstring& commandLine) {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(commandLine.c_str(), &count);
    if (!argv) {
        ADD_FAILURE() << "CommandLineToArgvW failed";
        return tstring_array();
    }
    tstring_array result(argv, argv + count);
    LocalFree(argv);
    return result;
}

// Reads the "arg:<hex UTF-16 units>" lines that argdump writes.
tstring_array parseArgDump(const std::string& dump) {
    tstring_array result;
    std::string::size_type start = 0;
    while (start < dump.size()) {
        std::string::size_type end = dump.find('\n', start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated line in argument dump";
            break;
        }
        const std::string line = dump.substr(start, end - start);
        start = end + 1;
        if (line.compare(0, 4, "arg:") != 0 || (line.size() - 4) % 4 != 0) {
            ADD_FAILURE() << "malformed line in argument dump: " << line;
            continue;
        }
        tstring arg;
        for (std::string::size_type i = 4; i < line.size(); i += 4) {
            arg += static_cast<wchar_t>(std::stoul(line.substr(i, 4), nullptr, 16));
        }
        result.push_back(arg);
    }
    return result;
}

// The system part of a SysError text, composed here from the system's message tables.
std::string expectedSystemPart(DWORD code, const void* function) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(function), &module);
    wchar_t* buffer = nullptr;
    DWORD length =
        FormatMessageW(0x1B00, module, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length == 0) {
        length =
            FormatMessageW(0x1300, nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    }
    tstring description = L"No description available";
    if (length != 0) {
        description.assign(buffer, length);
        LocalFree(buffer);
        for (wchar_t& c : description) {
            if (c < 32) {
                c = L' ';
            }
        }
        while (!description.empty() && (description.back() <= 32 || description.back() == L'.')) {
            description.pop_back();
        }
    }
    return "System error [" + std::to_string(code) + "](system error " + std::to_string(code) +
           " (" + tstrings::toUtf8(description) + "))";
}

// The child's id, read from the trace of its start.
tstring startedPid(const testsupport::LogRecorder& log) {
    for (const tstring& message : log.messages()) {
        const auto at = message.find(L" succeeded; PID=");
        if (tstrings::startsWith(message, L"CreateProcess") && at != tstring::npos) {
            return message.substr(at + 16);
        }
    }
    ADD_FAILURE() << "no trace of a started child";
    return tstring();
}

tstring argDumpPath() {
    return testsupport::fixturePath(L"argdump");
}

// Arguments that a careless command line splits, merges, drops or changes.
const tstring_array hostileArgs = {
    L"plain",
    L"two words",
    L"tab\there",
    L"",
    L" ",
    L"\t",
    L"inner\"quote",
    L"inner \" quote with blanks",
    L"\"",
    L"\"\"",
    L"\"already quoted\"",
    L"\"quoted-no-blank\"",
    L"trailing\\",
    L"trailing blank \\",
    L"C:\\dir with blank\\",
    L"\\\\server\\share",
    L"\\",
    L"\\\\\\",
    L"back\\\"quote",
    L"back\\\\\"quote blank",
    L"--opt=\"v w\"",
    L"line\nbreak",
    L"caf\u00e9 \u65e5\u672c\u8a9e",
    L"\U0001F600",
    L"",
};

} // namespace

TEST(CommandLineQuoting, TabledElementsKeepTheirText) {
    EXPECT_EQ(L"\"C:\\Program Files\\App\\app.exe\"",
              CommandLine::quoteProgramName(L"C:\\Program Files\\App\\app.exe"));
    EXPECT_EQ(L"C:\\App\\app.exe", CommandLine::quoteProgramName(L"C:\\App\\app.exe"));
    EXPECT_EQ(L"a", CommandLine::quoteArg(L"a"));
    EXPECT_EQ(L"\"d e\"", CommandLine::quoteArg(L"d e"));
    EXPECT_EQ(L"\"d\te\"", CommandLine::quoteArg(L"d\te"));
    EXPECT_EQ(L"C:\\dir\\", CommandLine::quoteArg(L"C:\\dir\\"));
    EXPECT_EQ(L"\"C:\\Program Files\\App\\app.exe\" a \"d e\" \"d\te\"",
              CommandLine::make(L"C:\\Program Files\\App\\app.exe", {L"a", L"d e", L"d\te"}));
}

TEST(CommandLineQuoting, ElementsThatTheTableWouldLoseAreEscaped) {
    EXPECT_EQ(L"\"\"", CommandLine::quoteArg(L""));
    EXPECT_EQ(L"\\\"", CommandLine::quoteArg(L"\""));
    EXPECT_EQ(L"\"\\\"b c\\\"\"", CommandLine::quoteArg(L"\"b c\""));
    EXPECT_EQ(L"\"d \\\" e\"", CommandLine::quoteArg(L"d \" e"));
    EXPECT_EQ(L"\"a b\\\\\"", CommandLine::quoteArg(L"a b\\"));
    EXPECT_EQ(L"a\\\\\\\"b", CommandLine::quoteArg(L"a\\\"b"));
    EXPECT_EQ(L"app.exe x \"\" y", CommandLine::make(L"app.exe", {L"x", L"", L"y"}));
}

TEST(CommandLineQuoting, SystemSplittingGivesBackEveryArgument) {
    const tstring program = L"C:\\Program Files\\My App\\app.exe";
    tstring_array expected = {program};
    expected.insert(expected.end(), hostileArgs.begin(), hostileArgs.end());
    EXPECT_EQ(expected, splitLikeTheChild(CommandLine::make(program, hostileArgs)));

    // Each one alone too: a neighbour must not be what keeps an argument intact.
    for (const tstring& arg : hostileArgs) {
        EXPECT_EQ(tstring_array({L"app.exe", arg}),
                  splitLikeTheChild(CommandLine::make(L"app.exe", {arg})))
            << tstrings::toUtf8(arg);
    }
}

TEST(Executor, ChildReceivesEveryArgumentUnchanged) {
    // The program name is quoted too: the copy lives in a directory with a blank in its name.
    const testsupport::TempDir temp;
    const tstring dir = temp.path() + L"\\dir with blank";
    testsupport::makeDirectories(dir);
    const tstring exe = dir + L"\\arg dump.exe";
    ASSERT_TRUE(CopyFileW(argDumpPath().c_str(), exe.c_str(), TRUE));
    const tstring dumpFile = temp.path() + L"\\args.txt";
    const ScopedEnvVariable out(L"ARGDUMP_OUT", dumpFile);
    const ScopedEnvVariable exitCode(L"ARGDUMP_EXIT", L"0");

    Executor executor(exe);
    executor.arguments() = hostileArgs;
    const testsupport::LogRecorder quiet;
    EXPECT_EQ(0u, executor.execAndWaitForExit());

    tstring_array expected = {exe};
    expected.insert(expected.end(), hostileArgs.begin(), hostileArgs.end());
    EXPECT_EQ(expected, parseArgDump(testsupport::readFile(dumpFile)));
}

TEST(Executor, ExitCodeComesBackBitForBitAndIsTraced) {
    const tstring exe = argDumpPath();
    ASSERT_EQ(tstring::npos, exe.find_first_of(L" \t")) << "the expected texts assume no blanks";
    const testsupport::TempDir temp;
    const ScopedEnvVariable out(L"ARGDUMP_OUT", temp.path() + L"\\args.txt");

    for (const std::uint32_t code : {0u, 3u, 0xC0000005u}) {
        const ScopedEnvVariable exitCode(L"ARGDUMP_EXIT", std::to_wstring(code));
        const testsupport::LogRecorder log;
        EXPECT_EQ(code, Executor(exe).execAndWaitForExit());

        const tstring pid = startedPid(log);
        ASSERT_EQ(2u, log.events.size());
        EXPECT_EQ(L"CreateProcess(" + exe + L", " + exe + L") succeeded; PID=" + pid,
                  log.events[0].message);
        EXPECT_EQ(L"Executor.cpp", log.events[0].file);
        EXPECT_EQ(L"Executor::startProcess", log.events[0].function);
        EXPECT_EQ(L"Process with PID=" + pid + L" terminated. Exit code=" + std::to_wstring(code),
                  log.events[1].message);
        EXPECT_EQ(L"Executor::execAndWaitForExit", log.events[1].function);
    }
}

TEST(Executor, SuspendedChildJoinsTheJobBeforeItResumes) {
    const UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(job);
    const testsupport::TempDir temp;
    const ScopedEnvVariable out(L"ARGDUMP_OUT", temp.path() + L"\\args.txt");
    const ScopedEnvVariable exitCode(L"ARGDUMP_EXIT", L"3");
    const tstring exe = argDumpPath();

    Executor executor(exe);
    executor.setVisible(true).setInheritHandles(true).setSuspended(true).setJobObject(job.get());
    executor.arguments().push_back(L"a b");

    const testsupport::LogRecorder log;
    EXPECT_EQ(3u, executor.execAndWaitForExit());
    const tstring pid = startedPid(log);
    const std::vector<tstring> expected = {
        L"CreateProcess[suspended][visible][inherit](" + exe + L", " + exe +
            L" \"a b\") succeeded; PID=" + pid,
        L"AssignProcessToJobObject(PID=" + pid + L")",
        L"ResumeThread()",
        L"Process with PID=" + pid + L" terminated. Exit code=3",
    };
    EXPECT_EQ(expected, log.messages());
}

TEST(Executor, StartedProcessIsInTheJobAndStillSuspended) {
    const UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(job);
    const testsupport::TempDir temp;
    const tstring dumpFile = temp.path() + L"\\args.txt";
    const ScopedEnvVariable out(L"ARGDUMP_OUT", dumpFile);

    // Whatever the slot held before is closed when it takes the thread handle.
    const HANDLE earlier = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, earlier);
    UniqueHandle thread(earlier);
    const testsupport::LogRecorder quiet;

    const UniqueHandle process =
        Executor(argDumpPath()).setSuspended(true).setJobObject(job.get()).startProcess(&thread);
    const AtEndOfScope endChild([&] {
        TerminateProcess(process.get(), 9);
        WaitForSingleObject(process.get(), INFINITE);
    });
    ASSERT_TRUE(process);
    ASSERT_TRUE(thread);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(earlier, &flags));

    BOOL inJob = FALSE;
    EXPECT_TRUE(IsProcessInJob(process.get(), job.get(), &inJob));
    EXPECT_TRUE(inJob);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process.get(), 200));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(dumpFile.c_str()));
}

TEST(Executor, MissingExecutableRaisesTheTraceTextWithTheSystemError) {
    const testsupport::TempDir temp;
    const tstring exe = temp.path() + L"\\no such app.exe";
    Executor executor(exe);
    executor.setInheritHandles(true);
    executor.arguments() = {L"a b", L""};

    const testsupport::LogRecorder log;
    try {
        executor.execAndWaitForExit();
        FAIL() << "a missing executable was started";
    } catch (const VtError<SysError>& error) {
        const std::string expected =
            tstrings::toUtf8(L"CreateProcess[inherit](" + exe + L", \"" + exe +
                             L"\" \"a b\" \"\") failed. ") +
            expectedSystemPart(ERROR_FILE_NOT_FOUND, functionAddress(&CreateProcessW));
        EXPECT_EQ(expected, error.bareMessage());
        const std::string what = error.what();
        EXPECT_EQ(0u, what.rfind("Executor.cpp(", 0)) << what;
        EXPECT_EQ(") at Executor::startProcess(): " + expected, what.substr(what.find(") at ")));
    }
    EXPECT_TRUE(log.events.empty());
}

TEST(Executor, FailedJobAssignmentEndsTheChildAndRaises) {
    // Not a job: the assignment fails the way it fails here.
    const UniqueHandle notAJob(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(notAJob);
    ASSERT_FALSE(AssignProcessToJobObject(notAJob.get(), GetCurrentProcess()));
    const DWORD code = GetLastError();

    const testsupport::LogRecorder log;
    try {
        Executor(argDumpPath()).setSuspended(true).setJobObject(notAJob.get()).startProcess();
        FAIL() << "the job assignment did not fail";
    } catch (const VtError<SysError>& error) {
        EXPECT_EQ("AssignProcessToJobObject() failed. " +
                      expectedSystemPart(code, functionAddress(&AssignProcessToJobObject)),
                  error.bareMessage());
    }

    const tstring pid = startedPid(log);
    ASSERT_EQ(2u, log.messages().size());
    EXPECT_EQ(L"AssignProcessToJobObject(PID=" + pid + L")", log.messages()[1]);
    const UniqueHandle child(
        OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, static_cast<DWORD>(std::stoul(pid))));
    if (child) {
        const DWORD waited = WaitForSingleObject(child.get(), 10000);
        EXPECT_EQ(WAIT_OBJECT_0, waited);
        if (waited != WAIT_OBJECT_0) {
            // A suspended orphan would keep the test's output streams open.
            TerminateProcess(child.get(), 9);
        }
    }
}
