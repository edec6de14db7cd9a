#include "launcher/road_support.h"

#include <gtest/gtest.h>

#include <cstring>

#include "components/file_path.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace sx::road {
namespace {

constexpr char kPlayerKey[] = "SOFTWARE\\Stellarix\\Stellarix Player\\";
constexpr char kUserShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr uint32_t kLaunchTimeoutMs = 60000;
constexpr uint32_t kPlayerTimeoutMs = 30000;

bool ensure_folder(const std::string& path) {
    std::string text = path;
    if (text.empty() || text.back() != '\\') text += '\\';
    return FilePath(text).ensure_directory();
}

bool exists(const std::string& path) {
    return platform().get_file_attributes(path.c_str()) != kInvalidFileAttributes;
}

// Waits for a file to appear; the writer closes it right after its single
// write, so a short pause after it appears lets that finish.
bool wait_for_file(const std::string& path, uint32_t timeout_ms) {
    const uint32_t start = platform().tick_count();
    while (!exists(path)) {
        if (platform().tick_count() - start >= timeout_ms) return false;
        platform().sleep_ms(20);
    }
    platform().sleep_ms(100);
    return true;
}

#if defined(_WIN32)

// Tells which of the system's message box icons a static control shows:
// draws each candidate over a capture of the control and keeps the one that
// changes it least (the same icon drawn over itself changes nothing).
uint32_t identify_icon(HWND control) {
    RECT rect;
    if (!GetClientRect(control, &rect)) return 0;
    const int width = rect.right, height = rect.bottom;
    if (width <= 0 || height <= 0) return 0;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    // Another process's window DC shows nothing here; the screen shows what
    // the box painted.
    POINT origin = {0, 0};
    ClientToScreen(control, &origin);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP capture = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, capture);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<uint32_t> captured(static_cast<uint32_t*>(bits),
                                   static_cast<uint32_t*>(bits) + count);

    bool uniform = true;
    for (uint32_t pixel : captured) uniform = uniform && pixel == captured[0];

    struct Candidate {
        LPCSTR id;
        uint32_t flag;
    };
    const Candidate candidates[] = {
        {IDI_HAND, 0x10}, {IDI_EXCLAMATION, 0x30}, {IDI_ASTERISK, 0x40}, {IDI_QUESTION, 0x20}};
    uint32_t best = 0;
    uint64_t best_score = UINT64_MAX, second = UINT64_MAX;
    for (const Candidate& candidate : candidates) {
        std::memcpy(bits, captured.data(), count * 4);
        HICON icon = LoadIconA(nullptr, candidate.id);
        DrawIconEx(memory, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
        GdiFlush();
        uint64_t score = 0;
        const uint32_t* drawn = static_cast<uint32_t*>(bits);
        for (size_t i = 0; i < count; ++i) {
            for (int shift = 0; shift < 24; shift += 8) {
                int a = static_cast<int>((drawn[i] >> shift) & 0xFF);
                int b = static_cast<int>((captured[i] >> shift) & 0xFF);
                score += static_cast<uint64_t>(a > b ? a - b : b - a);
            }
        }
        if (score < best_score) {
            second = best_score;
            best_score = score;
            best = candidate.flag;
        } else if (score < second) {
            second = score;
        }
    }
    SelectObject(memory, old);
    DeleteObject(capture);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    // A blank capture (not painted yet) or a tie tells nothing.
    if (uniform || best_score == second) return 0;
    return best;
}

struct Watch {
    DWORD process_id;
    std::vector<HWND> seen;
    std::vector<Box> boxes;
};

HWND icon_control(HWND dialog) {
    HWND child = nullptr;
    while ((child = FindWindowExA(dialog, child, "Static", nullptr)) != nullptr) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return child;
    }
    return nullptr;
}

BOOL CALLBACK read_box(HWND window, LPARAM argument) {
    Watch* watch = reinterpret_cast<Watch*>(argument);
    char class_name[64] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    if (std::strcmp(class_name, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != watch->process_id) return TRUE;
    for (HWND seen : watch->seen)
        if (seen == window) return TRUE;
    watch->seen.push_back(window);

    Box box;
    char caption[512] = {};
    GetWindowTextA(window, caption, sizeof caption);
    box.caption = caption;
    std::vector<char> text(4096, '\0');
    GetDlgItemTextA(window, 0xFFFF, text.data(), static_cast<int>(text.size()));
    box.text = text.data();
    if (HWND icon = icon_control(window)) {
        // A box wider or taller than the screen may be centred so that its
        // icon lies off the screen; bring it to the top left corner.
        RECT on_screen;
        GetWindowRect(icon, &on_screen);
        if (on_screen.left < 0 || on_screen.top < 0 ||
            on_screen.right > GetSystemMetrics(SM_CXSCREEN) ||
            on_screen.bottom > GetSystemMetrics(SM_CYSCREEN)) {
            SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        }
        for (int attempt = 0; attempt < 40 && box.icon == 0; ++attempt) {
            box.icon = identify_icon(icon);
            if (box.icon == 0) Sleep(50);
        }
    }
    box.topmost = (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    watch->boxes.push_back(box);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

bool run_watching(const std::string& command_line, Launch* launch) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    Watch watch{process.dwProcessId, {}, {}};
    const DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(read_box, reinterpret_cast<LPARAM>(&watch));
        if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) {
            launch->ended = true;
            break;
        }
        if (GetTickCount() - start > kLaunchTimeoutMs) {
            TerminateProcess(process.hProcess, 1);
            break;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    launch->exit_code = code;
    launch->boxes = watch.boxes;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

#else

std::string as_stderr(const std::vector<Box>& boxes) {
    std::string text;
    for (const Box& box : boxes) {
        text += box.caption + ": " + box.text;
        if (text.empty() || text.back() != '\n') text += '\n';
    }
    return text;
}

#endif

}  // namespace

void expect_boxes(const Launch& launch, const std::vector<Box>& expected) {
#if defined(_WIN32)
    EXPECT_EQ(launch.boxes.size(), expected.size());
    for (size_t i = 0; i < launch.boxes.size() && i < expected.size(); ++i) {
        EXPECT_EQ(launch.boxes[i].caption, expected[i].caption);
        EXPECT_EQ(launch.boxes[i].text, expected[i].text);
        EXPECT_EQ(launch.boxes[i].icon, expected[i].icon) << expected[i].caption;
        EXPECT_EQ(launch.boxes[i].topmost, expected[i].topmost) << expected[i].caption;
    }
#else
    // Only the player may add to standard error, and it writes nothing there.
    EXPECT_EQ(launch.stderr_text, as_stderr(expected));
#endif
}

std::string built_program(const char* path) {
    if (path[0] == '/') return test::host_to_windows_path(path);
    return path;
}

Road::Road() {
    if (!temp_.ok()) {
        problem_ = "no temporary directory";
        return;
    }
    const std::string system_data = temp_.file("system data") + "\\";
    const std::string app_data = temp_.file("appdata");
    system_components_ = system_data + "components\\";
    user_components_ = app_data + "\\Stellarix\\Stellarix Player\\components\\";
    if (!ensure_folder(system_components_) || !ensure_folder(user_components_)) {
        problem_ = "cannot create the component directories under " + temp_.path();
        return;
    }
    if (!set_value(kHkeyLocalMachine, kPlayerKey, "SystemDataPath", system_data) ||
        !set_value(kHkeyCurrentUser, kUserShellFolders, "AppData", app_data)) {
        problem_ = "cannot point the registry at the data directories";
    }
}

Road::~Road() {
    for (const std::string& path : leftovers_) test::remove_tree(path);
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        RegKey key = 0;
        if (platform().reg_create_key(it->root, it->subkey.c_str(), &key, nullptr) != kErrorSuccess)
            continue;
        if (it->existed) {
            platform().reg_set_value(key, it->name.c_str(), it->type, it->data.data(),
                                     static_cast<uint32_t>(it->data.size()));
        } else {
            platform().reg_delete_value(key, it->name.c_str());
        }
        platform().reg_close_key(key);
    }
}

bool Road::set_value(RegKey root, const std::string& subkey, const std::string& name,
                     const std::string& value) {
    RegKey key = 0;
    if (platform().reg_create_key(root, subkey.c_str(), &key, nullptr) != kErrorSuccess) {
        return false;
    }
    SavedValue saved;
    saved.root = root;
    saved.subkey = subkey;
    saved.name = name;
    uint32_t size = 0;
    if (platform().reg_query_value(key, name.c_str(), &saved.type, nullptr, &size) ==
        kErrorSuccess) {
        saved.data.resize(size);
        saved.existed = platform().reg_query_value(key, name.c_str(), &saved.type,
                                                   saved.data.data(), &size) == kErrorSuccess;
    }
    saved_.push_back(saved);
    const bool ok = platform().reg_set_value(key, name.c_str(), kRegSz, value.c_str(),
                                             static_cast<uint32_t>(value.size())) == kErrorSuccess;
    platform().reg_close_key(key);
    return ok;
}

void Road::install_player(const std::string& directory, const std::string& name, int version) {
    const std::string folder = directory + "player\\";
    ASSERT_TRUE(ensure_folder(folder));
    player_path_ = folder + "sxplayer.exe";
    ASSERT_TRUE(
        platform().copy_file(built_program(SX_PLAYER_FILE).c_str(), player_path_.c_str(), false))
        << player_path_;
    add_record(directory, "component = " + name + "\nversion = " + std::to_string(version) +
                              "\ninstalled_local = run;player\\sxplayer.exe\ncomponentend\n");
}

void Road::add_record(const std::string& directory, const std::string& text) {
    const std::string index = directory + "compindx.dat";
    std::string content;
    test::read_file(index, &content);
    ASSERT_TRUE(test::write_file(index, content + text)) << index;
}

bool Road::write_applet(const std::string& path, const std::string& content) {
    FilePath folder(path);
    folder.to_parent();
    return ensure_folder(folder.text()) && test::write_file(path, content);
}

Launch Road::launch(const std::string& arguments) {
    std::string command = "\"" + built_program(SX_LAUNCHER_FILE) + "\"";
    if (!arguments.empty()) command += " " + arguments;
    return launch_command(command);
}

Launch Road::launch_command(const std::string& command) {
    Launch launch;
    const std::string record = temp_.file("player-" + std::to_string(++launches_) + ".txt");
    EXPECT_TRUE(platform().set_environment_variable("SXPLAYER_RECORD", record.c_str()));
#if defined(_WIN32)
    EXPECT_TRUE(run_watching(command, &launch)) << command;
#else
    launch.ended =
        test::run_program(command, &launch.exit_code, &launch.stderr_text, kLaunchTimeoutMs);
    EXPECT_TRUE(launch.ended) << command;
#endif
    // The launcher does not wait for the player; a failed launch has started
    // nothing, so a short look is enough there.
    const uint32_t wait = launch.ended && launch.exit_code == 0 ? kPlayerTimeoutMs : 300;
    if (wait_for_file(record, wait)) {
        launch.player_ran = test::read_file(record, &launch.player_command_line);
    }
    return launch;
}

LockHolder::LockHolder(const std::string& file, const std::string& ready_marker, uint32_t hold_ms) {
    const std::string command = "\"" + built_program(SX_LOCK_HOLDER_FILE) + "\" \"" + file +
                                "\" \"" + ready_marker + "\" " + std::to_string(hold_ms);
    if (!platform().start_process(command.c_str(), &process_)) return;
    holding_ = wait_for_file(ready_marker, 20000);
}

LockHolder::~LockHolder() {
    if (!process_) return;
    if (!platform().wait_process(process_, 0, nullptr)) platform().terminate_process(process_, 1);
    platform().wait_process(process_, 10000, nullptr);
    platform().close_process(process_);
}

bool LockHolder::still_holding() {
    return process_ && !platform().wait_process(process_, 0, nullptr);
}

}  // namespace sx::road
