// The Windows console: a child process of this test sets the tool's colours and UTF-8 output on
// a console of the test's own, then ends one way or another; the console must have its own
// colours and code page back afterwards. (The terminal on Linux is checked by the session-end GUI
// tests.) Needs a console, which Wine makes only with a display: make test-windows gives it one.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/console.h"

namespace {

constexpr WORD kOwnColours = 0x2E;  // yellow on green: nothing the tool would set
constexpr WORD kToolColours = 0x1F;
constexpr char kReadyEvent[] = "tonemorph-console-test-ready-";
constexpr char kGoEvent[] = "tonemorph-console-test-go-";

// How the child ends once told to go.
enum class Ending { kExit, kCtrlC, kCtrlBreak, kFault };

struct Case {
    const char* name;
    Ending ending;
    bool outputIsConsole;
};

// The child: the tool's console set-up, then the ending it was given, when the parent says so.
int runChild(const std::string& ending, const std::string& tag) {
    SetErrorMode(SEM_NOGPFAULTERRORBOX);  // a fault ends the process without a debugger
    SetConsoleCtrlHandler(nullptr, FALSE);  // Ctrl+C reaches it even if the test runs ignoring it
    prepareConsole();
    SetEvent(OpenEventA(EVENT_MODIFY_STATE, FALSE, (kReadyEvent + tag).c_str()));
    WaitForSingleObject(OpenEventA(SYNCHRONIZE, FALSE, (kGoEvent + tag).c_str()), INFINITE);
    if (ending == "fault") {
        *static_cast<volatile int*>(nullptr) = 1;
    } else if (ending == "exit") {
        std::exit(0);
    }
    Sleep(60000);  // the console event ends it long before
    return 3;
}

struct ConsoleState {
    WORD colours;
    UINT outputCodePage;
};

class WindowsConsole : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        FreeConsole();
        ASSERT_TRUE(AllocConsole()) << "no console (Wine needs a display for one)";
        console_ = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(console_, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(SetConsoleTextAttribute(console_, kOwnColours));
        ASSERT_TRUE(SetConsoleOutputCP(437));
        // The test survives the Ctrl+C and Ctrl+Break it sends its child.
        SetConsoleCtrlHandler([](DWORD event) -> BOOL { return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT; },
                              TRUE);
    }
    void TearDown() override {
        if (console_ != INVALID_HANDLE_VALUE) CloseHandle(console_);
        FreeConsole();
    }

    ConsoleState state() const {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        GetConsoleScreenBufferInfo(console_, &info);
        return {info.wAttributes, GetConsoleOutputCP()};
    }

    HANDLE console_ = INVALID_HANDLE_VALUE;
};

const char* endingName(Ending ending) {
    switch (ending) {
    case Ending::kExit: return "exit";
    case Ending::kCtrlC: return "ctrl-c";
    case Ending::kCtrlBreak: return "ctrl-break";
    case Ending::kFault: return "fault";
    }
    return "";
}

// Ensure the tool's colours and UTF-8 output are set while it runs (on a console only) and that
// the console's own are back after every way the process ends.
TEST_P(WindowsConsole, OwnColoursAndCodePageComeBack) {
    const Case& c = GetParam();
    const std::string tag = std::to_string(GetCurrentProcessId());
    const HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, (kReadyEvent + tag).c_str());
    const HANDLE go = CreateEventA(nullptr, TRUE, FALSE, (kGoEvent + tag).c_str());

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE output = c.outputIsConsole
        ? CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                      OPEN_EXISTING, 0, nullptr)
        : CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(output, INVALID_HANDLE_VALUE);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --console-child=" + endingName(c.ending) + " " + tag;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = output;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &child));
    CloseHandle(output);
    ASSERT_EQ(WaitForSingleObject(ready, 30000), WAIT_OBJECT_0) << "the child never got ready";

    const ConsoleState running = state();
    EXPECT_EQ(running.colours, c.outputIsConsole ? kToolColours : kOwnColours);
    EXPECT_EQ(running.outputCodePage, c.outputIsConsole ? UINT{CP_UTF8} : 437u);

    SetEvent(go);
    if (c.ending == Ending::kCtrlC) {
        EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    }
    // Wine sends no Ctrl+Break; a real Windows does.
    const bool breakSent = c.ending != Ending::kCtrlBreak || GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0);
    const bool ended = breakSent && WaitForSingleObject(child.hProcess, 30000) == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(child.hProcess, 3);
        WaitForSingleObject(child.hProcess, INFINITE);
    }
    DWORD status = 0;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CloseHandle(ready);
    CloseHandle(go);
    if (!breakSent) GTEST_SKIP() << "this system sends no Ctrl+Break (error " << GetLastError() << ")";
    ASSERT_TRUE(ended) << "the child did not end";
    EXPECT_NE(status, 3u) << "the console event did not end the child";

    const ConsoleState after = state();
    EXPECT_EQ(after.colours, kOwnColours);
    EXPECT_EQ(after.outputCodePage, 437u);
}

INSTANTIATE_TEST_SUITE_P(Endings, WindowsConsole,
                         ::testing::Values(Case{"Exit", Ending::kExit, true}, Case{"CtrlC", Ending::kCtrlC, true},
                                           Case{"CtrlBreak", Ending::kCtrlBreak, true},
                                           Case{"Fault", Ending::kFault, true},
                                           Case{"OutputNotAConsole", Ending::kExit, false}),
                         [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace

int main(int argc, char** argv) {
    const std::string childFlag = "--console-child=";
    if (argc == 3 && std::string(argv[1]).rfind(childFlag, 0) == 0) {
        return runChild(std::string(argv[1]).substr(childFlag.size()), argv[2]);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
