// uninstaller.exe driven through its real dialogs as a user would, each one
// checked and saved as a PNG. Reading another process's image needs Vista.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "components/file_path.h"
#include "components/registry.h"
#include "components/testing/registry_guard.h"
#include "components/text_util.h"
#include "platform/testing/test_support.h"
#include "ui/win32/testing/driven_window.h"
#include "uninstaller/flow.h"
#include "uninstaller/resource.h"
#include "uninstaller/uninstaller_texts.h"

namespace sx {
namespace {

namespace texts = uninstaller_texts;

// The four dialogs share their caption; their controls tell them apart.
int dialog_id(HWND dialog) {
    if (GetDlgItem(dialog, IDC_BROWSER_TEXT)) return IDD_BROWSERS;
    if (GetDlgItem(dialog, IDC_OK_BUTTON)) return IDD_FINISHED;
    if (GetDlgItem(dialog, IDC_NEXT_BUTTON)) return IDD_WELCOME;
    return IDD_WORKING;
}

// The dialog once it shows; null after the time-out, or as soon as the
// `instead` dialog shows.
HWND wait_dialog(int id, int timeout_ms, int instead = 0) {
    for (int waited = 0;; waited += 5) {
        HWND window = nullptr;
        while ((window = FindWindowExA(nullptr, window, "#32770", texts::kCaption))) {
            if (!IsWindowVisible(window)) continue;
            if (dialog_id(window) == id) return window;
            if (dialog_id(window) == instead) return nullptr;
        }
        if (waited >= timeout_ms) return nullptr;
        Sleep(5);
    }
}

// Waits for the dialog, checks its text (the terminal host shows the same)
// and that it is centred, and keeps a screenshot of its client area (without
// a window manager nobody draws the frame); null when it never came.
HWND expect_dialog(int id) {
    HWND dialog = wait_dialog(id, 20000);
    if (!dialog) {
        ADD_FAILURE() << "dialog " << id << " never shown";
        return nullptr;
    }
    const std::string shown[] = {
        texts::kWelcomeText, "The Stellarix Player is being uninstalled.", texts::kFinishedText,
        "The following web browsers appear to be running:\n    + Internet "
        "Explorer\n    + Netscape Navigator or Netscape Communicator\nAll "
        "web browsers must be closed before continuing. If a web browser "
        "is open, the Stellarix Player may not be completely uninstalled."};
    EXPECT_EQ(testing::dialog_text(dialog, id == IDD_BROWSERS ? IDC_BROWSER_TEXT : IDC_BODY),
              shown[id - IDD_WELCOME]);
    RECT desk, r;
    GetWindowRect(GetDesktopWindow(), &desk);
    GetWindowRect(dialog, &r);
    EXPECT_EQ(r.left, desk.left + (desk.right - desk.left - (r.right - r.left)) / 2) << id;
    EXPECT_EQ(r.top, desk.top + (desk.bottom - desk.top - (r.bottom - r.top)) / 2) << id;
    CreateDirectoryA(SX_ARTIFACT_DIR, nullptr);
    const std::string png = std::string(SX_ARTIFACT_DIR) + "\\uninstaller_" + std::to_string(id);
    EXPECT_TRUE(testing::save_screenshot(dialog, png + ".png", true)) << id;
    return dialog;
}

void press(HWND dialog, int button) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

bool exists(const std::string& path) { return FilePath(path).exists(); }

// The first stage sets it only once the user went on.
bool run_once_set() {
    std::string command;
    return read_registry_string(kHkeyLocalMachine, texts::kRunOnceKey, texts::kRunOnceUninstaller,
                                &command);
}

class UninstallerWizard : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(run_once_.remove());
        ASSERT_TRUE(system_path_.set(player_));
        // One component, whose folder holds the files.
        ASSERT_TRUE(FilePath(part_ + "\\").ensure_directory());
        ASSERT_TRUE(testing::write_file(part_ + "\\part.dat", "x"));
        ASSERT_TRUE(testing::write_file(player_ + "\\components\\compindx.dat",
                                        "component = part\r\ninstalled_local = part;part\\part.dat"
                                        "\r\ncomponentend\r\n"));
        ASSERT_TRUE(testing::write_file(scratch_.file("keep.txt"), "x"));
    }

    HANDLE start(const std::string& arguments = "") {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        std::string line = std::string("\"") + SX_UNINSTALLER_FILE + "\"" + arguments;
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
            return nullptr;
        CloseHandle(process.hThread);
        return process.hProcess;
    }

    static DWORD finish(HANDLE process) {
        DWORD code = 1234;
        if (WaitForSingleObject(process, 30000) != WAIT_OBJECT_0) TerminateProcess(process, 99);
        GetExitCodeProcess(process, &code);
        CloseHandle(process);
        return code;
    }

    testing::TemporaryDirectory scratch_;
    std::string player_ = scratch_.path() + "\\Stellarix\\Stellarix Player";
    std::string part_ = player_ + "\\components\\part";
    testing::RegistryValueGuard system_path_{
        kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix Player\\", "SystemDataPath"};
    testing::RegistryValueGuard run_once_{kHkeyLocalMachine, texts::kRunOnceKey,
                                          texts::kRunOnceUninstaller};
};

// The second stage started by hand for a first stage that waits in its
// welcome dialog: nothing goes until the close box ends the first.
TEST_F(UninstallerWizard, SecondStageWaitsForTheFirstToEnd) {
    HANDLE first = start();
    ASSERT_NE(first, nullptr);
    HWND welcome = wait_dialog(IDD_WELCOME, 20000);
    ASSERT_NE(welcome, nullptr);
    HANDLE second = start(" 1 " + std::to_string(GetProcessId(first)));
    ASSERT_NE(second, nullptr);
    Sleep(2000);
    EXPECT_TRUE(exists(part_ + "\\part.dat")) << "removed while the first stage runs";
    EXPECT_EQ(wait_dialog(IDD_WORKING, 0), nullptr) << "working while the first stage runs";
    PostMessageA(welcome, WM_CLOSE, 0, 0);
    EXPECT_EQ(finish(first), 0u);
    EXPECT_FALSE(run_once_set()) << "the close box went on";
    if (HWND finished = wait_dialog(IDD_FINISHED, 20000)) press(finished, IDC_OK_BUTTON);
    EXPECT_EQ(finish(second), 0u);
    EXPECT_FALSE(exists(player_));
}

// Enter on the welcome presses its default, Cancel: nothing copied or removed.
TEST_F(UninstallerWizard, EnterOnTheWelcomeCancels) {
    HANDLE first = start();
    ASSERT_NE(first, nullptr);
    HWND welcome = wait_dialog(IDD_WELCOME, 20000);
    ASSERT_NE(welcome, nullptr);
    HWND button = GetDlgItem(welcome, IDC_CANCEL_BUTTON);
    PostMessageA(button, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageA(button, WM_KEYUP, VK_RETURN, 0xC0000001);
    EXPECT_EQ(finish(first), 0u);
    EXPECT_FALSE(run_once_set()) << "Enter went on";
    EXPECT_TRUE(exists(part_ + "\\part.dat"));
}

// An untrusted data folder is left: the finished dialog names the log, the
// Add/Remove entry stays and the second stage ends with 1.
TEST_F(UninstallerWizard, WhatWasLeftIsNamedInTheFinishedDialog) {
    const std::string refused = player_ + "\\..\\Stellarix Player";
    ASSERT_TRUE(system_path_.set(refused));
    testing::RegistryValueGuard entry(kHkeyLocalMachine, texts::kUninstallKey, "DisplayName");
    ASSERT_TRUE(entry.set("Stellarix 3D Player"));
    HANDLE first = start();
    ASSERT_NE(first, nullptr);
    if (HWND welcome = wait_dialog(IDD_WELCOME, 20000)) press(welcome, IDC_NEXT_BUTTON);
    EXPECT_EQ(finish(first), 0u);
    HWND finished = wait_dialog(IDD_FINISHED, 30000);
    ASSERT_NE(finished, nullptr);
    FilePath log;
    log.set_to_temp_directory();
    log.append_file(texts::kLogName);
    EXPECT_EQ(testing::dialog_text(finished, IDC_BODY),
              format_text(texts::kIncompleteText, log.c_str()));
    CreateDirectoryA(SX_ARTIFACT_DIR, nullptr);
    EXPECT_TRUE(testing::save_screenshot(
        finished, std::string(SX_ARTIFACT_DIR) + "\\uninstaller_103_incomplete.png", true));
    std::string text;
    EXPECT_TRUE(testing::read_file(log.text(), &text));
    EXPECT_NE(text.find(refused + ": "), std::string::npos) << text;
    std::string name;
    EXPECT_TRUE(read_registry_string(kHkeyLocalMachine, texts::kUninstallKey, "DisplayName", &name))
        << "the Add/Remove entry went";
    EXPECT_TRUE(exists(part_ + "\\part.dat"));

    DWORD id = 0;
    GetWindowThreadProcessId(finished, &id);
    HANDLE second = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id);
    ASSERT_NE(second, nullptr);
    press(finished, IDC_OK_BUTTON);
    EXPECT_EQ(finish(second), static_cast<DWORD>(kExitIncomplete));
    log.delete_file();
}

TEST_F(UninstallerWizard, NextThroughEveryDialogRemovesThePlayerFromTheCopy) {
    // Hidden top-level windows stand for running browsers: the check finds
    // hidden windows as well, and these cover nothing in the screenshots.
    WNDCLASSA ie_class{};
    ie_class.lpfnWndProc = DefWindowProcA;
    ie_class.hInstance = GetModuleHandleA(nullptr);
    ie_class.lpszClassName = "IEFrame";
    ASSERT_NE(RegisterClassA(&ie_class), 0);
    HWND ie = CreateWindowA("IEFrame", "Home", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                            ie_class.hInstance, nullptr);
    HWND netscape = CreateWindowA("STATIC", "Start Page - Netscape", WS_OVERLAPPED, 0, 0, 50, 50,
                                  nullptr, nullptr, ie_class.hInstance, nullptr);
    ASSERT_TRUE(ie && netscape);
    // Enough files that the removal lasts while the working dialog shows.
    for (int i = 0; i < 1500; ++i)
        ASSERT_TRUE(testing::write_file(part_ + "\\part" + std::to_string(i) + ".dat", "x"));

    HANDLE first = start();
    ASSERT_NE(first, nullptr);
    if (HWND welcome = expect_dialog(IDD_WELCOME)) press(welcome, IDC_NEXT_BUTTON);
    if (HWND browsers = expect_dialog(IDD_BROWSERS)) press(browsers, IDC_NEXT_BUTTON);
    EXPECT_EQ(finish(first), 0u);
    DestroyWindow(ie);
    DestroyWindow(netscape);
    UnregisterClassA("IEFrame", ie_class.hInstance);

    // Seeing the working dialog at all depends on the machine's speed: its
    // face is checked only when seen.
    if (wait_dialog(IDD_WORKING, 20000, IDD_FINISHED)) expect_dialog(IDD_WORKING);
    HWND finished = expect_dialog(IDD_FINISHED);
    ASSERT_NE(finished, nullptr);
    EXPECT_FALSE(exists(player_));
    EXPECT_FALSE(exists(scratch_.path() + "\\Stellarix")) << "the emptied parent goes too";
    EXPECT_TRUE(exists(scratch_.file("keep.txt")));

    // The second stage runs from the copy in the temporary directory.
    DWORD id = 0;
    GetWindowThreadProcessId(finished, &id);
    HANDLE second = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id);
    ASSERT_NE(second, nullptr);
    char image[MAX_PATH] = "", temp[MAX_PATH] = "", long_temp[MAX_PATH] = "";
    DWORD size = sizeof image;
    QueryFullProcessImageNameA(second, 0, image, &size);
    GetTempPathA(sizeof temp, temp);
    GetLongPathNameA(temp, long_temp, sizeof long_temp);
    const std::string copy = image;
    EXPECT_TRUE(std::regex_match(copy, std::regex(R"(.*\\stxuninst[0-9A-F]{8}\.exe)"))) << copy;
    EXPECT_STRCASEEQ(copy.substr(0, copy.rfind('\\') + 1).c_str(), long_temp);

    press(finished, IDC_OK_BUTTON);
    EXPECT_EQ(finish(second), 0u);
    DeleteFileA(copy.c_str());
}

}  // namespace
}  // namespace sx
