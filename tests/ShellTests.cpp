// The dialog as a person meets it, driven from this process against the real program.
#include "support/TestSupport.h"

#include "clean/clean.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>

namespace {

typedef std::vector<std::wstring> Lines;

const std::wstring Separator(64, L'=');
const std::wstring Explanation =
    L"This tool removes any installation of Zamo for all active users on this machine. For the best results, "
    L"right-click and 'Run as Administrator' if that option is available to you. Press 'Clean' to continue.";
const std::wstring PleaseWait = L"Please wait while Zamo components are removed.";

// One instance of the program with its dialog, ended (by force if need be) when the
// test is over.
class ShellTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (process_ != nullptr) {
            if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process_, 99);
                WaitForSingleObject(process_, 5000);
            }
            CloseHandle(process_);
        }
    }

    // Starts the program with the given arguments and waits for its dialog.
    void Start(const std::wstring& arguments, bool waitForVisible = true)
    {
        process_ = StartProgram(Quoted(ProgramPath()) + L" " + arguments, &processId_);
        ASSERT_NE(process_, nullptr);
        dialog_ = FindProgramWindow(processId_, 20000);
        ASSERT_NE(dialog_, nullptr) << "no dialog";
        if (waitForVisible) {
            ASSERT_TRUE(WaitUntilVisible(dialog_, 20000));
        }
        clean_ = GetDlgItem(dialog_, 1);
        cancel_ = GetDlgItem(dialog_, IDCANCEL);
        status_ = FindStatusText(dialog_);
        progress_ = GetDlgItem(dialog_, 1001);
        step_ = GetDlgItem(dialog_, 1002);
        showLog_ = GetDlgItem(dialog_, 1003);
    }

    static HWND FindStatusText(HWND dialog)
    {
        HWND status = GetDlgItem(dialog, -1);
        if (status != nullptr)
            return status;
        // Some window managers keep the id as 0xFFFF: look for the static control itself.
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t className[64] = {};
            GetClassNameW(child, className, ARRAYSIZE(className));
            if (lstrcmpiW(className, L"Static") == 0)
                return child;
        }
        return nullptr;
    }

    // True when the process ended within the time; its exit code in *exitCode.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode)
    {
        if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
            return false;
        GetExitCodeProcess(process_, exitCode);
        return true;
    }
    bool StillRunning(DWORD forMs) { return WaitForSingleObject(process_, forMs) == WAIT_TIMEOUT; }

    void ExpectReady()
    {
        EXPECT_TRUE(IsWindowVisible(clean_));
        EXPECT_TRUE(IsWindowEnabled(clean_));
        EXPECT_EQ(WindowText(clean_), L"&Clean");
        EXPECT_TRUE(IsWindowVisible(cancel_));
        EXPECT_TRUE(IsWindowEnabled(cancel_));
        EXPECT_EQ(WindowText(cancel_), L"&Cancel");
        EXPECT_EQ(WindowText(status_), Explanation);
        EXPECT_FALSE(IsWindowVisible(progress_));
        EXPECT_EQ(WindowText(step_), L"");
        EXPECT_FALSE(IsWindowVisible(showLog_));
    }
    void ExpectRunning()
    {
        EXPECT_FALSE(IsWindowVisible(clean_));
        EXPECT_EQ(WindowText(cancel_), L"&Close");
        EXPECT_FALSE(IsWindowEnabled(cancel_));
        EXPECT_EQ(WindowText(status_), PleaseWait);
    }
    void ExpectFinished()
    {
        EXPECT_FALSE(IsWindowVisible(clean_));
        EXPECT_EQ(WindowText(cancel_), L"&Close");
        EXPECT_TRUE(IsWindowEnabled(cancel_));
        EXPECT_TRUE(IsWindowVisible(cancel_));
        EXPECT_EQ(WindowText(status_), L"Finished.");
        EXPECT_FALSE(IsWindowVisible(progress_));
        EXPECT_TRUE(IsWindowVisible(showLog_));
    }
    // Finished, with this line beneath "Finished.".
    void ExpectFinishedWith(const std::wstring& outcome)
    {
        ExpectFinished();
        EXPECT_EQ(WindowText(step_), outcome);
    }
    // True when the step line reads text within the time, the marquee moving above it.
    bool WaitForStep(const std::wstring& text, DWORD timeoutMs)
    {
        for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(10)) {
            if (WindowText(step_) == text) {
                EXPECT_TRUE(IsWindowVisible(progress_));
                EXPECT_NE(GetWindowLongW(progress_, GWL_STYLE) & PBS_MARQUEE, 0);
                EXPECT_EQ(WindowText(status_), PleaseWait);
                EXPECT_FALSE(IsWindowEnabled(cancel_));
                EXPECT_FALSE(IsWindowVisible(showLog_));
                return true;
            }
        }
        return false;
    }
    // Closes the finished dialog; the process's exit code.
    DWORD Close()
    {
        SendMessageW(cancel_, BM_CLICK, 0, 0);
        DWORD exitCode = 99;
        EXPECT_TRUE(WaitForExit(20000, &exitCode));
        return exitCode;
    }
    // The run's end can be seen only when the dialog has taken the completion report.
    bool WaitForFinished(DWORD timeoutMs)
    {
        DWORD start = GetTickCount();
        while (!IsWindowEnabled(cancel_)) {
            if (GetTickCount() - start >= timeoutMs)
                return false;
            Sleep(10);
        }
        return true;
    }

    // Keys typed on the keyboard (to the foreground window's focus): each modifier
    // is held while the key is pressed and released.
    static void Type(std::initializer_list<WORD> modifiers, WORD key)
    {
        INPUT inputs[8] = {};
        UINT n = 0;
        auto add = [&](WORD vk, bool up) {
            inputs[n].type = INPUT_KEYBOARD;
            inputs[n].ki.wVk = vk;
            inputs[n].ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
            n++;
        };
        for (WORD modifier : modifiers)
            add(modifier, false);
        add(key, false);
        add(key, true);
        for (auto it = modifiers.end(); it != modifiers.begin();)
            add(*--it, true);
        EXPECT_EQ(SendInput(n, inputs, sizeof(INPUT)), n);
    }
    // Alt+?, Alt+/, Enter, Escape and Tab, typed to the dialog.
    void TypeDialogKeys()
    {
        SetForegroundWindow(dialog_);
        Type({VK_MENU, VK_SHIFT}, VK_OEM_2);  // Alt+? on a US keyboard
        Type({VK_MENU}, VK_OEM_2);            // Alt+/
        Type({}, VK_RETURN);
        Type({}, VK_ESCAPE);
        Type({}, VK_TAB);
        Type({}, VK_RETURN);
    }

    TempFolder folder;
    std::wstring log = folder / L"shell.log";
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    HWND dialog_ = nullptr;
    HWND clean_ = nullptr;
    HWND cancel_ = nullptr;
    HWND status_ = nullptr;
    HWND progress_ = nullptr;
    HWND step_ = nullptr;
    HWND showLog_ = nullptr;
};

TEST_F(ShellTest, ReadyDialogShowsItsCaptionAndControls)
{
    ASSERT_NO_FATAL_FAILURE(Start(L"/Log:" + log));
    EXPECT_EQ(WindowText(dialog_), L"Zamo Clean");
    ASSERT_NE(status_, nullptr);
    // Creation order: Clean, Cancel, the status text, the progress bar, the step line, Show log.
    EXPECT_EQ(GetWindow(dialog_, GW_CHILD), clean_);
    EXPECT_EQ(GetWindow(clean_, GW_HWNDNEXT), cancel_);
    EXPECT_EQ(GetWindow(cancel_, GW_HWNDNEXT), status_);
    EXPECT_EQ(GetWindow(status_, GW_HWNDNEXT), progress_);
    EXPECT_EQ(GetWindow(progress_, GW_HWNDNEXT), step_);
    EXPECT_EQ(GetWindow(step_, GW_HWNDNEXT), showLog_);
    EXPECT_EQ(GetWindow(showLog_, GW_HWNDNEXT), nullptr);
    wchar_t className[64] = {};
    GetClassNameW(progress_, className, ARRAYSIZE(className));
    EXPECT_STREQ(className, L"msctls_progress32");
    ExpectReady();
    SendMessageW(cancel_, BM_CLICK, 0, 0);
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

// The suite tests the program that users get: the 32-bit build, running under WOW64 as on
// 64-bit Windows, with the 32-bit default registry view and program folder.
TEST_F(ShellTest, ProgramIsThe32BitBuildRunningUnderWow64)
{
    ASSERT_NO_FATAL_FAILURE(Start(L"/Log:" + log));
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(process_, &wow64));
    EXPECT_TRUE(wow64) << "ZamoClean.exe is not a 32-bit process on 64-bit Windows";
    EXPECT_EQ(sizeof(void*), 4u) << "the tests link the engine as 32-bit code too";
    EXPECT_EQ(Expand(L"%ProgramFiles%"), Expand(L"%ProgramFiles(x86)%"));
    SendMessageW(cancel_, BM_CLICK, 0, 0);
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(20000, &exitCode));
}

TEST_F(ShellTest, CancelBeforeCleanEndsWithoutARun)
{
    ASSERT_NO_FATAL_FAILURE(Start(L"/Signature:sig /Log:" + log));
    SendMessageW(cancel_, BM_CLICK, 0, 0);
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ReadLogLines(log),
              (Lines{Separator, L"Using signature [sig]", L"Using log file location [" + log + L"]"}));
}

TEST_F(ShellTest, CloseRequestBeforeCleanEndsLikeCancel)
{
    ASSERT_NO_FATAL_FAILURE(Start(L"/Log:" + log));
    PostMessageW(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ReadLogLines(log), (Lines{Separator, L"Using log file location [" + log + L"]"}));
}

TEST_F(ShellTest, CleanRunsToFinishedThenCloseEnds)
{
    // What an earlier test may have left is gone first: this run finds nothing.
    ASSERT_TRUE(RunProgram(Quoted(ProgramPath()) + L" /Quiet /Log:" + (folder / L"before.log")).ended);
    ASSERT_NO_FATAL_FAILURE(Start(L"/Log:" + log));
    SendMessageW(clean_, BM_CLICK, 0, 0);
    // The handler has run: whatever the run's progress, the Clean button is gone and
    // the Cancel button has become Close.
    EXPECT_FALSE(IsWindowVisible(clean_));
    EXPECT_EQ(WindowText(cancel_), L"&Close");
    // The report sets "Finished." before it enables Close: whenever Close is seen
    // enabled, the text read after it must already be the final one.
    DWORD start = GetTickCount();
    bool finished = false;
    while (!finished && GetTickCount() - start < 30000) {
        bool enabled = IsWindowEnabled(cancel_) != 0;
        std::wstring status = WindowText(status_);
        if (enabled) {
            EXPECT_EQ(status, L"Finished.") << "Close enabled before the run had ended";
            finished = true;
        } else if (status != L"Finished.") {
            EXPECT_EQ(status, PleaseWait);
        }
    }
    ASSERT_TRUE(finished);
    ExpectFinishedWith(L"Nothing of Zamo was found.");
    EXPECT_TRUE(IsWindowEnabled(showLog_));
    EXPECT_TRUE(StillRunning(300)) << "the dialog must stay until it is closed";
    EXPECT_EQ(ShellLogLines(log), (Lines{Separator, L"Using log file location [" + log + L"]", L"Finishing"}));
    SendMessageW(cancel_, BM_CLICK, 0, 0);
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

// Takes up every free range of another process's address space, so that nothing more can
// be allocated there: no thread stack, in particular.
void ReserveAllFreeMemory(HANDLE process)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const ULONG_PTR grain = system.dwAllocationGranularity;
    char* at = static_cast<char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (VirtualQueryEx(process, at, &region, sizeof(region)) != 0) {
        // A reservation starts and ends on the allocation granularity.
        ULONG_PTR start = (reinterpret_cast<ULONG_PTR>(region.BaseAddress) + grain - 1) / grain * grain;
        ULONG_PTR end = (reinterpret_cast<ULONG_PTR>(region.BaseAddress) + region.RegionSize) / grain * grain;
        if (region.State == MEM_FREE && end > start)
            VirtualAllocEx(process, reinterpret_cast<void*>(start), end - start, MEM_RESERVE, PAGE_NOACCESS);
        char* next = static_cast<char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
}

// Takes up the address space that a process's new threads get their stacks from: threads of
// its own, started from here with ever smaller stack reservations until none more fits, each
// parked in Sleep (kernel32 lies at one address in every process of the prefix). They end
// with the process.
void TakeThreadStackSpace(HANDLE process)
{
    // Through a function type of no parameters, which any function pointer may be cast to.
    FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "Sleep");
    LPTHREAD_START_ROUTINE sleep = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(found));
    int made = 0;
    for (SIZE_T size = SIZE_T(256) << 20; size >= SIZE_T(64) << 10 && made < 2000; size /= 4) {
        for (;;) {
            HANDLE thread = CreateRemoteThread(process, nullptr, size, sleep, reinterpret_cast<void*>(INFINITE),
                                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
            if (thread == nullptr || ++made >= 2000)
                break;
            CloseHandle(thread);
        }
    }
}

// A worker thread that cannot be created, because the program has no address space left
// for its stack: the failure is logged with its error code and the dialog stays Ready.
TEST_F(ShellTest, CleanWhoseThreadCannotStartIsLoggedAndLeavesTheDialogReady)
{
    ASSERT_NO_FATAL_FAILURE(Start(L"/Preview /Log:" + log));
    HANDLE program = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION |
                                     PROCESS_CREATE_THREAD,
                                 FALSE, processId_);
    ASSERT_NE(program, nullptr);
    ReserveAllFreeMemory(program);
    // Wine takes thread stacks from address space it keeps for itself, out of the reach of
    // the reservations above: the program's own threads take that up.
    TakeThreadStackSpace(program);
    CloseHandle(program);

    // With no address space left, Wine's dialog may stop answering altogether: the click is
    // given a bound, and a dialog that does not answer in it ends the program and the test.
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(clean_, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 20000, &answer)) {
        HANDLE stuck = OpenProcess(PROCESS_TERMINATE, FALSE, processId_);
        if (stuck != nullptr) {
            TerminateProcess(stuck, 1);
            CloseHandle(stuck);
        }
        GTEST_SKIP() << "this system's dialog stopped answering once the program's address space was taken";
    }

    if (!IsWindowVisible(clean_)) {
        // The preview ran: let it finish and end the program before the test is skipped.
        EXPECT_TRUE(WaitForFinished(30000));
        SendMessageW(cancel_, BM_CLICK, 0, 0);
        DWORD exitCode = 99;
        EXPECT_TRUE(WaitForExit(20000, &exitCode));
        GTEST_SKIP() << "this system found room for the worker's stack after every range was taken: the thread "
                        "was created";
    }
    ExpectReady();
    // The whole log: the header, the failure with the code of memory that ran out, nothing of a run.
    Lines lines = ReadLogLines(log);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 3),
              (Lines{Separator, L"Using log file location [" + log + L"]", L"Preview: nothing will be changed"}));
    const std::wstring failed = L"Failed to start the clean-up [";
    EXPECT_TRUE(lines[3] == failed + L"8]" || lines[3] == failed + L"14]") << "not out of memory";
    SendMessageW(cancel_, BM_CLICK, 0, 0);
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

// The same dialog; its Clean button starts the preview.
TEST_F(ShellTest, CleanInAPreviewRunsThePreviewToFinished)
{
    ASSERT_NO_FATAL_FAILURE(Start(L"/Preview /Log:" + log));
    ExpectReady();
    SendMessageW(clean_, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitForFinished(30000));
    ExpectFinishedWith(L"Preview: nothing was changed; nothing of Zamo was found.");
    EXPECT_EQ(ShellLogLines(log), (Lines{Separator, L"Using log file location [" + log + L"]",
                                        L"Preview: nothing will be changed", L"Finishing"}));
    SendMessageW(cancel_, BM_CLICK, 0, 0);
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

// While another run holds the machine's lock, the dialog's run waits with its line and the
// dialog answers; once the lock is given back the run ends, and Close ends the process with
// the run's exit code.
TEST_F(ShellTest, RunWaitsForAnotherRunWhileTheDialogAnswers)
{
    HANDLE lock = CreateMutexW(nullptr, TRUE, L"Global\\ZamoClean.CleanRun");
    ASSERT_NE(lock, nullptr);
    ASSERT_NE(GetLastError(), DWORD(ERROR_ALREADY_EXISTS)) << "another run is under way";
    ASSERT_NO_FATAL_FAILURE(Start(L"/Preview /ExitCode /Log:" + log));
    SendMessageW(clean_, BM_CLICK, 0, 0);
    const std::wstring waiting = L"Waiting for another clean-up run to finish";
    bool waited = false;
    for (DWORD start = GetTickCount(); !waited && GetTickCount() - start < 20000; Sleep(50)) {
        Lines lines = ReadLogLines(log);
        waited = !lines.empty() && lines.back() == waiting;
    }
    EXPECT_TRUE(waited);
    EXPECT_TRUE(WaitForStep(waiting, 5000));
    for (int i = 0; i < 5; i++) {
        DWORD_PTR result = 0;
        EXPECT_NE(SendMessageTimeoutW(dialog_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result), 0)
            << "the dialog does not answer";
        EXPECT_EQ(WindowText(status_), PleaseWait);
        EXPECT_EQ(WindowText(step_), waiting);
        EXPECT_TRUE(IsWindowVisible(progress_));
        EXPECT_FALSE(IsWindowEnabled(cancel_));
        Sleep(200);
    }
    ReleaseMutex(lock);
    CloseHandle(lock);
    ASSERT_TRUE(WaitForFinished(30000));
    Lines lines = ReadLogLines(log);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), waiting), 1);
    ASSERT_GE(lines.size(), 2u);
    const std::wstring exitLine = lines[lines.size() - 2];
    EXPECT_TRUE(exitLine == L"Exit code [0]" || exitLine == L"Exit code [1]") << std::string(exitLine.begin(), exitLine.end());
    SendMessageW(cancel_, BM_CLICK, 0, 0);
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(20000, &exitCode));
    EXPECT_EQ(L"Exit code [" + std::to_wstring(exitCode) + L"]", exitLine);
}

// A thread that takes the machine's run lock and ends holding it; the handle goes to *out.
DWORD WINAPI TakeRunLockAndEnd(void* out)
{
    HANDLE made = CreateMutexW(nullptr, TRUE, L"Global\\ZamoClean.CleanRun");
    *static_cast<HANDLE*>(out) = made;
    return made != nullptr && GetLastError() != ERROR_ALREADY_EXISTS ? 0 : 1;
}

// A lock whose holder ended without giving it back is taken over at once.
TEST_F(ShellTest, AbandonedLockIsTakenOver)
{
    // The thread takes the lock and ends; the handle stays open so that the mutex lives on.
    HANDLE lock = nullptr;
    HANDLE holder = CreateThread(nullptr, 0, TakeRunLockAndEnd, &lock, 0, nullptr);
    ASSERT_NE(holder, nullptr);
    ASSERT_EQ(WaitForSingleObject(holder, 10000), WAIT_OBJECT_0);
    DWORD held = 1;
    GetExitCodeThread(holder, &held);
    CloseHandle(holder);
    struct Closer {
        HANDLE handle;
        ~Closer()
        {
            if (handle != nullptr)
                CloseHandle(handle);
        }
    } closer{lock};
    ASSERT_EQ(held, 0u) << "the lock could not be taken and left";
    RunResult run = RunProgram(Quoted(ProgramPath()) + L" /Quiet /Preview /Log:" + log, 30000);
    ASSERT_TRUE(run.ended) << "the run waits for a holder that is gone";
    EXPECT_EQ(run.exitCode, 0u);
    Lines lines = ReadLogLines(log);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"Waiting for another clean-up run to finish"), 0);
    EXPECT_EQ(lines.back(), L"Finishing");
}

TEST_F(ShellTest, CloseRequestIsRefusedWhileCancelIsDisabled)
{
    ASSERT_NO_FATAL_FAILURE(Start(L"/Log:" + log));
    // The state a run leaves the button in, forced from outside.
    EnableWindow(cancel_, FALSE);
    SendMessageW(dialog_, WM_CLOSE, 0, 0);
    PostMessageW(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
    SetForegroundWindow(dialog_);
    Type({VK_MENU}, VK_F4);
    EXPECT_TRUE(StillRunning(500)) << "the close request was not refused";
    EXPECT_TRUE(IsWindow(dialog_));
    EXPECT_TRUE(IsWindowVisible(clean_)) << "the close request must not start or change anything";

    EnableWindow(cancel_, TRUE);
    SendMessageW(dialog_, WM_CLOSE, 0, 0);
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ReadLogLines(log), (Lines{Separator, L"Using log file location [" + log + L"]"}));
}

TEST_F(ShellTest, AcceleratorsAndDialogKeysChangeNothing)
{
    ASSERT_NO_FATAL_FAILURE(Start(L"/Log:" + log));
    TypeDialogKeys();
    // Without a dialog keyboard step Enter presses nothing and Escape closes nothing.
    EXPECT_TRUE(StillRunning(500));
    ExpectReady();

    SendMessageW(clean_, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitForFinished(20000));
    TypeDialogKeys();
    EXPECT_TRUE(StillRunning(500));
    ExpectFinished();
    EXPECT_EQ(ShellLogLines(log), (Lines{Separator, L"Using log file location [" + log + L"]", L"Finishing"}));

    // The keyboard does reach the dialog: Alt+F4 is a close request, which ends it now.
    Type({VK_MENU}, VK_F4);
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(ShellTest, QuietDialogExistsButIsNeverShown)
{
    // A quiet run lasts a fraction of a second; watch its window for as long as it lives.
    process_ = StartProgram(Quoted(ProgramPath()) + L" /Quiet /Log:" + log, &processId_);
    ASSERT_NE(process_, nullptr);
    int looks = 0;
    while (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        HWND dialog = FindProgramWindow(processId_, 0);
        if (dialog == nullptr)
            continue;
        bool visible = IsWindowVisible(dialog) != 0;
        if (IsWindow(dialog)) {
            EXPECT_FALSE(visible) << "the quiet dialog was shown";
            looks++;
        }
    }
    EXPECT_GT(looks, 0) << "the quiet dialog was never seen";
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(0, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(ShellTest, QuietRunEndsByItselfAfterFinishing)
{
    DWORD processId = 0;
    process_ = StartProgram(Quoted(ProgramPath()) + L" /Quiet /Log:" + log, &processId);
    ASSERT_NE(process_, nullptr);
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(60000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ShellLogLines(log),
              (Lines{Separator, L"Running quietly (no UI)", L"Using log file location [" + log + L"]", L"Finishing"}));
}

// The running user's scope under HKEY_USERS, where the tests plant what the run finds.
const std::wstring UserSid = L"S-1-5-21-0-0-0-1000";

// A product process keeps the run in its first step for the pause after stopping it: the
// marquee moves and the step line names the step. A stopped process is no item that stays:
// the run ends with everything found gone.
TEST_F(ShellTest, StepLineAndMarqueeWhileAProductProcessKeepsTheRunBusy)
{
    const std::wstring product = CopyFakeProduct(folder.Path(), L"Zamo.exe");
    ASSERT_FALSE(product.empty());
    ChildProcess running(product);
    ASSERT_TRUE(running.Started());
    ASSERT_NO_FATAL_FAILURE(Start(L"/Log:" + log));
    SendMessageW(clean_, BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitForStep(L"Stopping Zamo's programs", 4000));
    ASSERT_TRUE(WaitForFinished(30000));
    ExpectFinishedWith(L"Everything of Zamo that was found is gone.");
    EXPECT_TRUE(IsWindowEnabled(showLog_));
    DWORD ended = 0;
    EXPECT_TRUE(running.EndsWithin(5000, &ended)) << "the product process was not stopped";
    EXPECT_EQ(Close(), 0u);
}

// While an uninstaller runs, the step line names the product it uninstalls. MsiExec is
// stood in for by FakeUninstaller.exe under a %SystemRoot% of the test's own, which takes
// its time and then removes its uninstall entry.
TEST_F(ShellTest, StepLineNamesTheProductWhileItsUninstallerRuns)
{
    const std::wstring root = folder / L"root";
    const std::wstring list = UserSid + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    const std::wstring code = L"{7E1A5C36-0000-4000-8000-000000000036}";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\System32").c_str(), nullptr));
    ASSERT_TRUE(CopyFileW((BinaryFolder() + L"\\FakeUninstaller.exe").c_str(),
                          (root + L"\\System32\\MsiExec.exe").c_str(), TRUE));
    ASSERT_TRUE(SetString(HKEY_USERS, list + L"\\" + code, L"DisplayName", L"Zamo (per-user)"));
    struct Entry {
        std::wstring path;
        ~Entry() { DeleteKeyTree(HKEY_USERS, path); }
    } entry{list + L"\\" + code};
    {
        // The program inherits them; this process gives them back at once.
        ScopedVariable systemRoot(L"SystemRoot", root.c_str());
        ScopedVariable uninstallList(L"ZC_UNINSTALL_LIST", list.c_str());
        ScopedVariable sleep(L"ZC_UNINSTALL_SLEEP", L"3000");
        ASSERT_NO_FATAL_FAILURE(Start(L"/Log:" + log));
    }
    SendMessageW(clean_, BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitForStep(L"Uninstalling Zamo (per-user)", 10000));
    ASSERT_TRUE(WaitForFinished(30000));
    ExpectFinishedWith(L"Everything of Zamo that was found is gone.");
    EXPECT_FALSE(KeyExists(HKEY_USERS, list + L"\\" + code));
    EXPECT_EQ(Close(), 0u);
}

// What stayed is counted as the exit code counts it, with or without "/ExitCode": a file in
// use and the two folders it keeps; with "/DeleteAtRestart" they go at the next restart.
TEST_F(ShellTest, OutcomeLineCountsWhatStayedAndWhatGoesAtRestart)
{
    const std::wstring programFiles = Expand(L"%ProgramFiles%\\Quorvex");
    const std::wstring held = programFiles + L"\\AddIn\\addin.dll";
    ASSERT_TRUE(CreateDirectoryW(programFiles.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryW((programFiles + L"\\AddIn").c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(held, "x"));
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const struct {
        const wchar_t* options;
        const wchar_t* outcome;
        DWORD exitCode;
    } runs[] = {
        {L"", L"3 items could not be removed (see the log).", 0},
        {L"/ExitCode ", L"3 items could not be removed (see the log).", 1},
        {L"/DeleteAtRestart ", L"3 files are removed at the next restart.", 0},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.options);
        ASSERT_NO_FATAL_FAILURE(Start(run.options + std::wstring(L"/Log:") + log));
        SendMessageW(clean_, BM_CLICK, 0, 0);
        ASSERT_TRUE(WaitForFinished(30000));
        ExpectFinishedWith(run.outcome);
        EXPECT_EQ(Close(), run.exitCode);
        CloseHandle(process_);
        process_ = nullptr;
    }
    CloseHandle(holder);
    HKEY sessionManager;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, &sessionManager) == ERROR_SUCCESS) {
        RegDeleteValueW(sessionManager, L"PendingFileRenameOperations");
        RegCloseKey(sessionManager);
    }
    RemoveTree(programFiles);
}

// A preview names what a run would remove and changes nothing; a key that cannot be deleted
// is one item that stays.
TEST_F(ShellTest, OutcomeLineOfAPreviewAndOfAKeyThatStays)
{
    const std::wstring settings = UserSid + L"\\Software\\Zamo";
    ASSERT_TRUE(SetString(HKEY_USERS, settings, L"Version", L"1.0"));
    UndeletableKeys stuck;
    ASSERT_NO_FATAL_FAILURE(Start(L"/Preview /Log:" + log));
    SendMessageW(clean_, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitForFinished(30000));
    ExpectFinishedWith(L"Preview: nothing was changed; 1 item would be removed.");
    EXPECT_EQ(Close(), 0u);
    EXPECT_TRUE(KeyExists(HKEY_USERS, settings));
    CloseHandle(process_);
    process_ = nullptr;

    if (!stuck.Make(HKEY_USERS, settings))
        GTEST_SKIP() << "this Wine cannot make a key undeletable";
    ASSERT_NO_FATAL_FAILURE(Start(L"/Log:" + log));
    SendMessageW(clean_, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitForFinished(30000));
    ExpectFinishedWith(L"1 item could not be removed (see the log).");
    EXPECT_EQ(Close(), 0u);
    stuck.Release();
    DeleteKeyTree(HKEY_USERS, settings);
}

// The notepad.exe processes running now, by ID.
std::vector<DWORD> NotepadProcesses()
{
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"notepad.exe") == 0)
            found.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

// Ends the notepad.exe processes that are not among those running before: a viewer left
// running would keep the suite's output open.
void EndNewNotepads(const std::vector<DWORD>& before)
{
    for (DWORD id : NotepadProcesses()) {
        if (std::find(before.begin(), before.end(), id) != before.end())
            continue;
        HANDLE notepad = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (notepad != nullptr) {
            TerminateProcess(notepad, 0);
            WaitForSingleObject(notepad, 5000);
            CloseHandle(notepad);
        }
    }
}

// "Show log" appears with the end of the run. A log named as no text file (here as a
// command script) is never handed to the program its kind would run: Notepad shows it.
TEST_F(ShellTest, ShowLogOpensALogOfAnotherKindInNotepad)
{
    const std::wstring script = folder / L"clean.cmd";
    std::vector<DWORD> before = NotepadProcesses();
    ASSERT_NO_FATAL_FAILURE(Start(L"/Log:" + script));
    SendMessageW(clean_, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitForFinished(30000));
    ASSERT_TRUE(IsWindowVisible(showLog_));
    ASSERT_TRUE(IsWindowEnabled(showLog_));
    SendMessageW(showLog_, BM_CLICK, 0, 0);
    DWORD started = 0;
    for (DWORD start = GetTickCount(); started == 0 && GetTickCount() - start < 10000; Sleep(100)) {
        for (DWORD id : NotepadProcesses()) {
            if (std::find(before.begin(), before.end(), id) == before.end())
                started = id;
        }
    }
    EXPECT_NE(started, 0u) << "Notepad was not started";
    EndNewNotepads(before);
    EXPECT_EQ(Close(), 0u);
}

// A log named as a text file goes to the program the machine associates with its kind: here
// ".log" with a stand-in (FakeUninstaller.exe, which records its command line), in both
// views of the machine's classes, where Wine's prefix has none.
TEST_F(ShellTest, ShowLogOpensTheLogWithTheAssociatedProgram)
{
    const std::wstring classes = L"Software\\Classes";
    if (KeyExists(HKEY_LOCAL_MACHINE, classes + L"\\.log", KEY_WOW64_64KEY) ||
        KeyExists(HKEY_LOCAL_MACHINE, classes + L"\\.log", KEY_WOW64_32KEY))
        GTEST_SKIP() << "this machine associates .log with a program already";
    const std::wstring viewer = folder / L"Viewer.exe";
    ASSERT_TRUE(CopyFileW((BinaryFolder() + L"\\FakeUninstaller.exe").c_str(), viewer.c_str(), TRUE));
    ScratchKeys association;
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        ASSERT_TRUE(association.SetString(HKEY_LOCAL_MACHINE, classes + L"\\.log", nullptr, L"ZamoCleanTest.LogFile",
                                          view));
        ASSERT_TRUE(association.SetString(HKEY_LOCAL_MACHINE, classes + L"\\ZamoCleanTest.LogFile\\shell\\open\\command",
                                          nullptr, Quoted(viewer) + L" \"%1\"", view));
    }
    const std::wstring record = folder / L"viewer.txt";
    {
        ScopedVariable recordFile(L"ZC_UNINSTALL_RECORD", record.c_str());
        ASSERT_NO_FATAL_FAILURE(Start(L"/Log:" + log));
    }
    SendMessageW(clean_, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitForFinished(30000));
    EXPECT_FALSE(Exists(record)) << "the viewer started before Show log was pressed";
    std::vector<DWORD> before = NotepadProcesses();
    SendMessageW(showLog_, BM_CLICK, 0, 0);
    for (DWORD start = GetTickCount(); !Exists(record) && GetTickCount() - start < 10000;)
        Sleep(100);
    EndNewNotepads(before);
    std::vector<unsigned char> bytes = ReadFileBytes(record);
    std::wstring started(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    EXPECT_NE(started.find(log), std::wstring::npos) << std::string(started.begin(), started.end());
    EXPECT_EQ(started.find(viewer), 1u) << std::string(started.begin(), started.end());
    EXPECT_EQ(Close(), 0u);
}

// A log that could not be opened cannot be shown: the button is there, disabled.
TEST_F(ShellTest, ShowLogIsDisabledWhenTheLogCouldNotBeOpened)
{
    const std::wstring missing = folder / L"no such folder\\clean.log";
    ASSERT_TRUE(RunProgram(Quoted(ProgramPath()) + L" /Quiet /Log:" + (folder / L"before.log")).ended);
    ASSERT_NO_FATAL_FAILURE(Start(Quoted(L"/Log:" + missing)));
    SendMessageW(clean_, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitForFinished(30000));
    ExpectFinishedWith(L"Nothing of Zamo was found.");
    EXPECT_FALSE(IsWindowEnabled(showLog_));
    SendMessageW(showLog_, BM_CLICK, 0, 0);
    EXPECT_EQ(Close(), 0u);
    EXPECT_FALSE(Exists(missing));
}

// What a run told its listener, in order.
struct HeardStep {
    RunStep step;
    std::wstring name;    // "-" for none
    std::wstring folder;  // "-" for none
    bool operator==(const HeardStep& other) const
    {
        return step == other.step && name == other.name && folder == other.folder;
    }
};
std::vector<HeardStep> Heard;
void HearStep(RunStep step, const wchar_t* name, const wchar_t* folder)
{
    Heard.push_back({step, name != nullptr ? name : L"-", folder != nullptr ? folder : L"-"});
}
std::ostream& operator<<(std::ostream& out, const HeardStep& heard)
{
    return out << static_cast<int>(heard.step) << " " << std::string(heard.name.begin(), heard.name.end()) << " "
               << std::string(heard.folder.begin(), heard.folder.end());
}

// The run tells whoever watches it each step as it enters it: the product's programs, each
// name under HKEY_USERS with the profile folder the profile list gives it, the machine.
TEST(RunStepsTest, RunTellsItsListenerEachStepInOrder)
{
    TestRunLog log;
    Heard.clear();
    const RunListener listener = {HearStep, nullptr};
    EXPECT_EQ(CleanRunWaitingAtMost(1500, RunOptions{}, &listener), 0);
    std::vector<HeardStep> expected = {{RunStep::StoppingPrograms, L"-", L"-"}};
    for (const std::wstring& name : SubkeyNames(HKEY_USERS, L"")) {
        std::wstring folder = L"-";
        ReadString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + name,
                   L"ProfileImagePath", &folder);
        expected.push_back({RunStep::CleaningUser, name, Expand(folder)});
    }
    expected.push_back({RunStep::CleaningMachine, L"-", L"-"});
    EXPECT_EQ(Heard, expected);
    ASSERT_GE(Heard.size(), 3u);
    EXPECT_NE(std::find(expected.begin(), expected.end(),
                        HeardStep{RunStep::CleaningUser, UserSid, Expand(L"%USERPROFILE%")}),
              expected.end());
    // Nobody watches a run that was handed no listener.
    Heard.clear();
    EXPECT_EQ(CleanRunWaitingAtMost(1500, RunOptions{}), 0);
    EXPECT_TRUE(Heard.empty());
}

// A run that gives up waiting for another run's lock says so: the dialog tells its person to
// try again later. (The shipped wait is ten minutes; here 1.5 seconds.)
TEST(RunStepsTest, RunThatGivesUpWaitingForTheLockTellsItsListener)
{
    HeldLock lock(L"run");
    ASSERT_TRUE(lock.Holding()) << "LockHolder did not take the run lock";
    TestRunLog log;
    Heard.clear();
    const RunListener listener = {HearStep, nullptr};
    EXPECT_EQ(CleanRunWaitingAtMost(1500, RunOptions{}, &listener), 0);
    EXPECT_EQ(Heard, (std::vector<HeardStep>{{RunStep::WaitingForRun, L"-", L"-"},
                                            {RunStep::StoppedWaiting, L"-", L"-"}}));
}

} // namespace
