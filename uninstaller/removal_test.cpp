// The removal against whole environments installed as the player's installer
// does it, with unrelated files and keys beside each part.
#include "uninstaller/removal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <iterator>

#include "components/file_path.h"
#include "components/registry.h"
#include "components/testing/registry_guard.h"
#include "components/text_util.h"
#include "platform/ascii_case.h"
#include "platform/testing/faulty_platform.h"
#include "platform/testing/test_support.h"
#include "uninstaller/uninstaller_texts.h"
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include "platform/posix/posix_internal.h"
#endif

namespace sx {
namespace {

using testing::RegistryValueGuard;
namespace texts = uninstaller_texts;
using Keys = std::vector<std::pair<RegKey, std::string>>;

constexpr const char* kProfileKey =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-77-";
constexpr const char* kUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stellarix 3D Player";

void put_value(RegKey root, const std::string& key, const char* name, const std::string& text) {
    RegistryKey opened;
    ASSERT_EQ(opened.create(root, key.c_str()), kErrorSuccess) << key;
    ASSERT_EQ(platform().reg_set_value(opened.get(), name, kRegSz, text.c_str(),
                                       static_cast<uint32_t>(text.size() + 1)),
              kErrorSuccess);
}

void put_profile(const char* number, const std::string& path) {
    put_value(kHkeyLocalMachine, kProfileKey + std::string(number), "ProfileImagePath", path);
}

void put_netscape(const std::string& version, const std::string& directory) {
    put_value(kHkeyLocalMachine,
              std::string(texts::kNetscapeMachineKey) + "\\" + version + "\\Main",
              texts::kNetscapeInstallValue, directory);
}

void put_file(const std::string& path) {
    FilePath parent(path);
    parent.to_parent();
    FilePath(parent.text() + "\\").ensure_directory();
    ASSERT_TRUE(testing::write_file(path, "x")) << path;
}

#ifdef _WIN32
using UnixName = char*(CDECL*)(const wchar_t*);
UnixName wine_unix_name() {
    return reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
}

// Wine starts host programs too, but does not say when they have ended.
void run_host_program(const std::string& line) {
    uint32_t code = 0;
    testing::run_program(line, &code, nullptr, 5000);
}
#endif

#ifdef _WIN32
// Wine 8.0 removes no host symbolic link: the test's links go from the Linux side.
bool links_stay() { return wine_unix_name() != nullptr; }
#endif

bool host_name(const std::string& path, std::string* host) {
#ifdef _WIN32
    UnixName unix_name = wine_unix_name();
    char* name = unix_name ? unix_name(std::wstring(path.begin(), path.end()).c_str()) : nullptr;
    if (!name) return false;
    *host = name;
    HeapFree(GetProcessHeap(), 0, name);
    return true;
#else
    return posix::to_host_path(path, host);
#endif
}

// A directory link made on the host: Wine's own calls make none.
bool make_directory_link(const std::string& link, const std::string& target) {
    std::string host_link, host_target;
    if (!host_name(link, &host_link) || !host_name(target, &host_target)) return false;
#ifdef _WIN32
    run_host_program("/bin/ln -s " + quote_argument(host_target) + " " + quote_argument(host_link));
#else
    if (symlink(host_target.c_str(), host_link.c_str()) != 0) return false;
#endif
    for (int i = 0; i < 100; ++i, platform().sleep_ms(20)) {
        const uint32_t attributes = platform().get_file_attributes(link.c_str());
        if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeReparsePoint))
            return true;
    }
    return false;
}

void list_files(const std::string& directory, std::vector<std::string>* out) {
    std::vector<std::string> names;
    if (!platform().list_directory((directory + "\\*.*").c_str(), &names)) return;
    for (const std::string& name : names) {
        if (name == "." || name == "..") continue;
        const std::string path = directory + "\\" + name;
        out->push_back(path);
        const uint32_t attributes = platform().get_file_attributes(path.c_str());
        if ((attributes & kFileAttributeDirectory) && !(attributes & kFileAttributeReparsePoint))
            list_files(path, out);
    }
}

std::string under(RegKey root, const std::string& path) {
    return std::to_string(root) + "\\" + path;
}

// The key, each value with its data (as "key\:name=data"), and the subkeys.
void list_keys(RegKey root, const std::string& path, std::vector<std::string>* out) {
    RegistryKey key;
    if (key.open(root, path.c_str(), kKeyRead) != kErrorSuccess) return;
    out->push_back(under(root, path));
    for (uint32_t index = 0;; ++index) {
        char name[300] = {}, data[4096] = {};
        uint32_t size = sizeof name, type = 0, data_size = sizeof data;
        if (platform().reg_enum_value(key.get(), index, name, &size, &type, data, &data_size) !=
            kErrorSuccess)
            break;
        out->push_back(under(root, path) + "\\:" + name + "=" + std::string(data, data_size));
    }
    for (uint32_t index = 0;; ++index) {
        char name[300] = {};
        uint32_t size = sizeof name;
        if (platform().reg_enum_key(key.get(), index, name, &size) != kErrorSuccess) break;
        list_keys(root, path + "\\" + name, out);
    }
}

// True when `entry` is one of `removed` or lies under one.
bool gone(const std::string& entry, const std::vector<std::string>& removed) {
    for (const std::string& prefix : removed) {
        if (entry == prefix || entry.compare(0, prefix.size() + 1, prefix + "\\") == 0) return true;
    }
    return false;
}

std::string program(const char* file) { return testing::host_to_windows_path(file); }

// The component installer as the player's installer runs it.
void sxinstall(const std::string& arguments) {
    uint32_t code = 99;
    std::string errors;
    ASSERT_TRUE(testing::run_program(
        quote_argument(program(SX_SXINSTALL_FILE)) + " install " + arguments, &code, &errors));
    ASSERT_EQ(code, 0u) << arguments << ": " << errors;
}

std::string file_arg(const std::string& spec) { return " --file " + quote_argument(spec); }

std::string cpl_path() {
    char buffer[260] = {};
    platform().get_system_directory(buffer, sizeof buffer);
    return std::string(buffer) + "\\stellarix.cpl";
}

class RemovalTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const char* n : {"1", "2"})
            delete_registry_tree(kHkeyLocalMachine, kProfileKey + std::string(n));
        for (const Keys* keys : {&player_keys_, &decoy_keys_})
            for (const auto& [root, key] : *keys) delete_registry_tree(root, key);
        delete_registry_tree(kHkeyLocalMachine, texts::kNetscapeMachineKey);
        delete_registry_tree(kHkeyCurrentUser, "Software\\Netscape");
        FilePath(cpl_path()).delete_file();
#ifdef _WIN32
        std::string link;
        if (links_stay() && host_name(link_, &link))
            run_host_program("/bin/rm -f " + quote_argument(link));
#endif
    }

    // The player installed for two profiles (one without the player's
    // folder), with a decoy beside each of its parts.
    void build_environment() {
        system_path_.set(player_);
        app_data_.set(b_ + "\\alice\\AppData\\Roaming");
        for (const char* file :
             {"\\setup\\launcher.exe",
              "\\setup\\data.bin",
              "\\setup\\test.sxvm",
              "\\Program Files\\Stellarix\\Other Product\\keep.txt",
              "\\Program Files\\Other Maker\\keep.txt",
              "\\alice\\AppData\\Roaming\\Other\\keep.txt",
              "\\alice\\Stellarix\\Stellarix Player\\SXRegistry.dat",
              "\\alice\\Documents\\keep.txt",
              "\\Program Files\\Stellarix\\Stellarix Player\\dist.id",
              "\\Program Files\\Stellarix\\Stellarix Player\\upgrades_critical.dat",
              "\\Program Files\\Stellarix\\Stellarix Player\\notes.txt",
              "\\bob\\Documents\\keep.txt",
              "\\outside\\keep.txt",
              "\\nav10\\Program\\Plugins\\NPVelum.dll",
              "\\nav10\\Program\\Plugins\\NPAXVelum.dll",
              "\\nav10\\Program\\Plugins\\other.dll",
              "\\nav473\\Program\\Plugins\\NPVelum.dll",
              "\\ie\\NPAXVelum.dll",
              "\\ie\\sxext.dll",
              "\\ie\\other.dll"})
            put_file(b_ + file);
        sxinstall("--name skiff --version 2" +
                  file_arg("skiff=Stellarix3D.exe:" + b_ + "\\setup\\launcher.exe") +
                  file_arg("hook=skiffhook.dll:" + program(SX_SKIFFHOOK_FILE)) + " --hook hook");
        sxinstall(
            "--name uninstaller" +
            file_arg("uninstaller=Uninstall\\uninstaller.exe:" + std::string(SX_UNINSTALLER_FILE)) +
            file_arg("hook=Uninstall\\purgehook.dll:" + program(SX_PURGEHOOK_FILE)) +
            " --hook hook");
        sxinstall("--name sceneparts --user" +
                  file_arg("parts=parts\\data.bin:" + b_ + "\\setup\\data.bin"));
#ifdef SX_CPL_FILE
        // The control panel's hook puts the panel into the system directory.
        sxinstall("--name cpl" + file_arg("cpl=stellarix.cpl:" + std::string(SX_CPL_FILE)) +
                  file_arg("fish=Applets\\test.sxvm:" + b_ + "\\setup\\test.sxvm") + " --hook cpl");
#else
        put_file(cpl_path());
#endif
        put_profile("1", b_ + "\\alice");
        put_profile("2", b_ + "\\bob");
        put_netscape("4.73", b_ + "\\nav473");
        put_netscape("10", b_ + "\\nav10\\");
        put_netscape("4.5", b_ + "\\nav473");
        // What the browser plug-in installers write, outside this system.
        put_value(kHkeyLocalMachine, texts::kPlayerMachineKey, "IEPlugin",
                  b_ + "\\ie\\NPAXVelum.dll");
        put_value(kHkeyLocalMachine, texts::kIeExtensionKey, "Location", b_ + "\\ie\\sxext.dll");
        for (const auto& [root, key] : player_keys_)
            put_value(root, key + "\\Sub\\Deeper", "v", "1");
        for (const auto& [root, key] : decoy_keys_) put_value(root, key, "v", "1");
        // A link from the player's folder to outside: not the player's, never followed.
        ASSERT_TRUE(make_directory_link(link_, b_ + "\\outside"));
    }

    std::vector<std::string> snapshot() const {
        std::vector<std::string> all;
        list_files(b_, &all);
        if (FilePath(cpl_path()).exists()) all.push_back(cpl_path());
        for (uint32_t index = 0;; ++index) {  // every class that could be the player's
            char name[300] = {};
            uint32_t size = sizeof name;
            if (platform().reg_enum_key(kHkeyClassesRoot, index, name, &size) != kErrorSuccess)
                break;
            const std::string lower = ascii_lower(name);
            if (lower.rfind(".s", 0) == 0 || lower.rfind("stellarix", 0) == 0)
                list_keys(kHkeyClassesRoot, name, &all);
        }
        for (const auto& [root, key] :
             Keys{{kHkeyLocalMachine, "SOFTWARE\\Stellarix"},
                  {kHkeyCurrentUser, "SOFTWARE\\Stellarix"},
                  {kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
                  {kHkeyLocalMachine, texts::kRunOnceKey},
                  {kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Internet Explorer\\Plugins"},
                  {kHkeyLocalMachine,
                   "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"},
                  {kHkeyLocalMachine, "Software\\Netscape"}})
            list_keys(root, key, &all);
        std::sort(all.begin(), all.end());
        return all;
    }

    testing::TemporaryDirectory scratch_;
    const std::string b_ = scratch_.path();
    const std::string player_ = b_ + "\\Program Files\\Stellarix\\Stellarix Player";
    const std::string link_ = player_ + "\\out";
    RegistryValueGuard system_path_{kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix Player\\",
                                    "SystemDataPath"};
    RegistryValueGuard app_data_{
        kHkeyCurrentUser,
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", "AppData"};
    const std::string ie_plugins_ = "SOFTWARE\\Microsoft\\Internet Explorer\\Plugins\\";
    Keys player_keys_ = {
        {kHkeyClassesRoot, ".sxv"},
        {kHkeyClassesRoot, ".sxvm"},
        {kHkeyClassesRoot, ".sgv"},
        {kHkeyClassesRoot, ".sgvm"},
        {kHkeyClassesRoot, "StellarixBytecode"},
        {kHkeyClassesRoot, "StellarixSGVM"},
        {kHkeyCurrentUser, "SOFTWARE\\Stellarix\\Stellarix3D"},
        {kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix3D"},
        {kHkeyLocalMachine, "SOFTWARE\\Stellarix\\ActiveXStellarix"},
        {kHkeyLocalMachine, ie_plugins_ + "Extension\\.sxvm"},
        {kHkeyLocalMachine, ie_plugins_ + "Extension\\.sgvm"},
        {kHkeyLocalMachine, ie_plugins_ + "MIME\\application/x-Stellarix-3D-Applet"},
        {kHkeyLocalMachine, kUninstallKey}};
    Keys decoy_keys_ = {{kHkeyClassesRoot, ".sxvq"},
                        {kHkeyClassesRoot, "StellarixBytecodeOld"},
                        {kHkeyCurrentUser, "SOFTWARE\\Stellarix\\Stellarix3DTools"},
                        {kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix3DTools"},
                        {kHkeyLocalMachine, ie_plugins_ + "Extension\\.other"},
                        {kHkeyLocalMachine, std::string(kUninstallKey) + " Old"}};
};

TEST_F(RemovalTest, RemovesExactlyThePlayersFilesAndKeys) {
    build_environment();
    if (HasFatalFailure()) return;
    const std::vector<std::string> before = snapshot();
    // What the installer and its hooks put there: the comparison is about the real thing.
    for (const std::string& part :
         {player_ + "\\components\\Uninstall\\uninstaller.exe",
          b_ +
              "\\alice\\AppData\\Roaming\\Stellarix\\Stellarix Player\\components\\parts\\data.bin",
          under(kHkeyClassesRoot, "StellarixBytecode\\shell\\open\\command"),
          under(kHkeyLocalMachine, kUninstallKey) + "\\:UninstallString=" + player_ +
              "\\components\\Uninstall\\uninstaller.exe",
          cpl_path()})
        EXPECT_TRUE(std::binary_search(before.begin(), before.end(), part)) << part;
    // The player's folder keeps what is not the player's: a note and a link.
    std::vector<std::string> removed = {player_ + "\\components",
                                        player_ + "\\dist.id",
                                        player_ + "\\upgrades_critical.dat",
                                        b_ + "\\alice\\AppData\\Roaming\\Stellarix",
                                        b_ + "\\alice\\Stellarix",
                                        b_ + "\\nav10\\Program\\Plugins\\NPVelum.dll",
                                        b_ + "\\nav10\\Program\\Plugins\\NPAXVelum.dll",
                                        b_ + "\\ie\\NPAXVelum.dll",
                                        cpl_path()};
    for (const auto& [root, key] : player_keys_) removed.push_back(under(root, key));
    std::vector<std::string> expected;
    for (const std::string& entry : before)
        if (!gone(entry, removed)) expected.push_back(entry);

    const RemovalReport report = remove_player();
    EXPECT_EQ(report.left, std::vector<std::string>());
    std::string kept;
    for (const std::string& line : report.kept) kept += line + "\n";
    for (const std::string& path : {link_, player_ + "\\notes.txt", b_ + "\\ie\\sxext.dll"})
        EXPECT_NE(kept.find(path + ": "), std::string::npos) << path << " not reported in\n"
                                                             << kept;

    const std::vector<std::string> after = snapshot();
    std::vector<std::string> lost, left;
    std::set_difference(expected.begin(), expected.end(), after.begin(), after.end(),
                        std::back_inserter(lost));
    std::set_difference(after.begin(), after.end(), expected.begin(), expected.end(),
                        std::back_inserter(left));
    EXPECT_EQ(lost, std::vector<std::string>()) << "not the player's, yet removed";
    EXPECT_EQ(left, std::vector<std::string>()) << "the player's, yet left";
}

// The folders of one level, without descending.
std::vector<std::string> shallow_files(const std::string& directory) {
    std::vector<std::string> names, all;
    platform().list_directory((directory + "\\*.*").c_str(), &names);
    for (const std::string& name : names)
        if (name != "." && name != "..") all.push_back(directory + "\\" + name);
    return all;
}

// Every file under `deep` and those directly in `shallow`, sorted.
std::vector<std::string> files_of(std::initializer_list<std::string> deep,
                                  std::initializer_list<std::string> shallow) {
    std::vector<std::string> all;
    for (const std::string& folder : deep) list_files(folder, &all);
    for (const std::string& folder : shallow)
        for (const std::string& file : shallow_files(folder)) all.push_back(file);
    std::sort(all.begin(), all.end());
    return all;
}

std::string system_folder() {
    char buffer[260] = {};
    platform().get_system_directory(buffer, sizeof buffer);
    return buffer;
}

// Each hostile value aims the removal at files not the player's: all stay, the
// Add/Remove entry stays exactly when a value is refused, the log names each.
TEST_F(RemovalTest, HostileValuesRemoveNothingThatIsNotThePlayers) {
    const std::string system = system_folder();
    FilePath windows(system);
    windows.to_parent();
    const std::string drivers = system + "\\drivers";
    const std::string documents = b_ + "\\alice\\Documents";
    const std::string sibling = b_ + "\\Program Files\\Stellarix\\Other Product";
    // A real Linux folder, through the drive that maps the Linux root.
    const std::string linux_folder = "Z:\\tmp\\sx-hostile-" +
                                     std::to_string(platform().current_process_id()) + "-" +
                                     std::to_string(platform().tick_count());
    std::vector<std::string> made = {windows.text() + "\\sx-marker.txt",
                                     drivers + "\\sx-marker.sys"};
    if (!FilePath(system + "\\user32.dll").exists()) made.push_back(system + "\\user32.dll");
    for (const std::string& file : made) put_file(file);
    for (const std::string& file :
         {documents + "\\keep.txt", documents + "\\components\\notes.txt", sibling + "\\other.dll",
          sibling + "\\components\\other.exe", linux_folder + "\\keep.txt",
          linux_folder + "\\sub\\keep.txt", b_ + "\\outside\\keep.txt"})
        put_file(file);
    const bool linked = make_directory_link(b_ + "\\linkdir", b_ + "\\outside");
    const auto world = [&] {
        return files_of({b_, linux_folder, drivers}, {system, windows.text(), "C:"});
    };
    const struct {
        const char* what;
        std::string value;
        bool refused;
    } cases[] = {
        {"drive root", "C:\\", true},
        {"user's documents", documents, false},
        {"user's documents, other letter case", ascii_upper(documents), false},
        {"sibling product", sibling, false},
        {"sibling product through ..", player_ + "\\..\\Other Product", true},
        {"system folder", system, false},
        {"system folder's subfolder", drivers, false},
        {"Windows folder with forward slashes", "c:/WINDOWS/", true},
        {"short name", "C:\\PROGRA~1\\Stellarix", true},
        {"\\\\?\\ prefix", "\\\\?\\" + documents, true},
        {"Linux folder", linux_folder, false},
        {"link", b_ + "\\linkdir", true},
    };
    for (const auto& c : cases) {
        if (!linked && c.value == b_ + "\\linkdir") continue;
        // As system data path, profile and application data (the last two get
        // the player's folder names appended).
        ASSERT_TRUE(system_path_.set(c.value));
        ASSERT_TRUE(app_data_.set(c.value));
        put_profile("2", c.value);
        put_value(kHkeyLocalMachine, texts::kPlayerMachineKey, "IEPlugin", system + "\\user32.dll");
        put_value(kHkeyLocalMachine, texts::kIeExtensionKey, "Location", sibling + "\\other.dll");
        put_value(kHkeyLocalMachine, kUninstallKey, "DisplayName", "Stellarix 3D Player");
        const std::vector<std::string> before = world();
        const RemovalReport report = remove_player();
        EXPECT_EQ(world(), before) << c.what;
        EXPECT_EQ(report.complete(), !c.refused) << c.what;
        RegistryKey entry;
        EXPECT_EQ(entry.open(kHkeyLocalMachine, kUninstallKey, kKeyRead) == kErrorSuccess,
                  c.refused)
            << c.what << ": the Add/Remove entry";
        const std::string log = write_uninstall_log(report);
        std::string text;
        ASSERT_TRUE(testing::read_file(log, &text)) << c.what;
        for (const std::string& named : {c.value, system + "\\user32.dll", sibling + "\\other.dll"})
            EXPECT_NE(text.find(named), std::string::npos) << c.what << ": " << named << "\n"
                                                           << text;
        FilePath(log).delete_file();
    }
    for (const std::string& file : made) FilePath(file).delete_file();
    testing::remove_tree(linux_folder);
}

// The system's lookup would create a data path's missing folders; the removal
// creates nothing, even for a path too long to be one.
TEST_F(RemovalTest, AnOverlongDataPathCreatesNothing) {
    std::string path = b_;
    while (path.size() < 5000) path += "\\level" + std::to_string(path.size());
    ASSERT_TRUE(system_path_.set(path));
    const std::vector<std::string> before = files_of({b_}, {"C:"});
    const RemovalReport report = remove_player();
    EXPECT_EQ(files_of({b_}, {"C:"}), before);
    ASSERT_FALSE(report.left.empty());
    EXPECT_EQ(report.left[0].rfind(path + ": ", 0), 0u);
}

// The refused forms of a data path, and names that only look odd.
TEST(UnsoundPaths, RefusedFormsAndSoundOnes) {
    const struct {
        std::string path;
        const char* why;
    } cases[] = {
        {"C:\\", texts::kWhyDriveRoot},
        {"d:", texts::kWhyNotFull},
        {"relative\\dir", texts::kWhyNotFull},
        {"\\\\server\\share\\x", texts::kWhyNotFull},
        {"\\\\?\\C:\\Windows", texts::kWhyNotFull},
        {"\\\\.\\C:\\Windows", texts::kWhyNotFull},
        {"C:/Windows", texts::kWhySlash},
        {"C:\\a\\..\\Windows", texts::kWhyDots},
        {"C:\\a\\.\\b", texts::kWhyDots},
        {"C:\\PROGRA~1\\Stellarix", texts::kWhyShortName},
        {"C:\\Windows.\\x", texts::kWhyOddName},
        {"C:\\Windows \\x", texts::kWhyOddName},
        {"C:\\a\\\\b", texts::kWhyOddName},
        {"C:\\a:b", texts::kWhyOddName},
        {"C:\\" + std::string(300, 'a'), texts::kWhyTooLong},
        {"C:\\Program Files\\Stellarix\\Stellarix Player", ""},
        {"c:\\program files\\stellarix\\stellarix player\\", ""},
        {"Z:\\home\\user~name\\.hidden", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(unsound_path_reason(c.path), c.why) << c.path;
}

// A component index is the player's word only about its own folder.
TEST_F(RemovalTest, IndexEntriesThatLeaveTheirFolderAreKept) {
    const std::string components = player_ + "\\components";
    ASSERT_TRUE(system_path_.set(player_));
    for (const char* file : {"\\components\\part\\a.dll", "\\components\\part\\deep\\b.dat",
                             "\\components\\run.exe", "\\components\\mine.txt", "\\secret.txt"})
        put_file(player_ + file);
    put_file(b_ + "\\secret.txt");
    ASSERT_TRUE(testing::write_file(components + "\\compindx.dat",
                                    "component = p\r\n"
                                    "installed_local = a;part\\a.dll\r\n"
                                    "installed_local = b;run.exe\r\n"
                                    "installed_local = c;..\\secret.txt\r\n"
                                    "installed_local = d;..\\..\\..\\..\\secret.txt\r\n"
                                    "installed_local = e;C:\\secret.txt\r\n"
                                    "componentend\r\n"));
    const RemovalReport report = remove_player();
    std::vector<std::string> left;
    list_files(player_, &left);
    EXPECT_EQ(left, (std::vector<std::string>{components, components + "\\mine.txt",
                                              player_ + "\\secret.txt"}));
    EXPECT_TRUE(FilePath(b_ + "\\secret.txt").exists());
    EXPECT_TRUE(report.complete());
    std::string kept;
    for (const std::string& line : report.kept) kept += line + "\n";
    for (const char* entry : {"..\\secret.txt", "C:\\secret.txt", "mine.txt"})
        EXPECT_NE(kept.find(entry), std::string::npos) << entry << " not in\n" << kept;
}

// An index too big to be the player's is not read: its folder stays, removal incomplete.
TEST_F(RemovalTest, AnOversizedIndexIsNotRead) {
    const std::string components = player_ + "\\components";
    ASSERT_TRUE(system_path_.set(player_));
    put_file(components + "\\part\\a.dll");
    const std::string record =
        "component = p\r\ninstalled_local = a;part\\a.dll\r\ncomponentend\r\n";
    ASSERT_TRUE(testing::write_file(components + "\\compindx.dat",
                                    record + std::string((1 << 20) - record.size() + 1, '\n')));
    const RemovalReport report = remove_player();
    EXPECT_TRUE(FilePath(components + "\\part\\a.dll").exists());
    EXPECT_EQ(report.left, std::vector<std::string>{components + ": " + texts::kWhyIndexUnread});
}

// Subkey names are plain decimals; "0x20", "1e9", "inf" are no version.
TEST(NetscapeVersions, PlainDecimalNumbersOnly) {
    const struct {
        const char* name;
        double number;
    } cases[] = {{"10", 10}, {"4.73", 4.73}, {"4.5", 4.5}, {"0x20", 0}, {"1e9", 0},
                 {"inf", 0}, {"-3", 0},      {" 7", 0},    {"4.5b", 0}, {".5", 0},
                 {"5.", 0},  {"1.2.3", 0},   {"", 0}};
    for (const auto& c : cases) EXPECT_EQ(netscape_version_number(c.name), c.number) << c.name;
}

// The version choice itself is the whole environment's (4.5, 4.73, 10).
TEST_F(RemovalTest, NetscapeDirectoryWithoutBackslashOrAbsent) {
    std::string directory;
    EXPECT_FALSE(find_netscape_directory(&directory)) << "no Netscape recorded";
    // Without a directory the bare names in the current directory stay.
    const std::string current = platform().current_directory();
    const std::string bare = current + (current.back() == '\\' ? "" : "\\") + "NPVelum.dll";
    put_file(bare);
    remove_player();
    EXPECT_TRUE(FilePath(bare).exists());
    FilePath(bare).delete_file();

    const std::string plugin = b_ + "\\v10\\Program\\Plugins\\NPAXVelum.dll";
    const std::string decoy = b_ + "\\vx\\Program\\Plugins\\NPAXVelum.dll";
    put_file(plugin);
    put_file(decoy);
    put_netscape("10", b_ + "\\v10");
    for (const char* name : {"0x20", "1e9", "inf"}) put_netscape(name, b_ + "\\vx");
    remove_player();
    EXPECT_FALSE(FilePath(plugin).exists());
    EXPECT_TRUE(FilePath(decoy).exists());
}

// In use, the panel goes at the next start; absent, nothing is asked of it.
TEST_F(RemovalTest, ControlPanelInUseIsLeftToTheNextStart) {
    RegistryValueGuard pending(kHkeyLocalMachine, texts::kRunOnceKey, texts::kRunOnceControlPanel);
    for (const bool present : {true, false}) {
        ASSERT_TRUE(pending.remove());
        FilePath(cpl_path()).delete_file();
        if (present) put_file(cpl_path());
        FaultyPlatform os;
        os.add_rule(FaultRule(Call::delete_file, "stellarix.cpl")).error = kErrorSharingViolation;
        {
            ScopedPlatform scoped(&os);
            remove_player();
        }
        RegistryKey key;
        ASSERT_EQ(key.open(kHkeyLocalMachine, texts::kRunOnceKey, kKeyRead), kErrorSuccess);
        char command[600] = {};
        uint32_t type = 0, size = sizeof command - 1;
        const long found = platform().reg_query_value(key.get(), texts::kRunOnceControlPanel, &type,
                                                      command, &size);
        if (!present) {
            EXPECT_EQ(found, kErrorFileNotFound) << "a value for a panel that is not there";
            continue;
        }
        ASSERT_EQ(found, kErrorSuccess);
        const std::string expected = "cmd.exe /c del \"" + cpl_path() + "\"";
        // The byte count is the text's length: no terminating zero counted.
        EXPECT_EQ(std::string(command, size), expected);
        EXPECT_EQ(type, kRegSz);
        EXPECT_TRUE(FilePath(cpl_path()).exists());
    }
    EXPECT_EQ(delete_command("C:\\T\\x.exe", 1), "command.com /c del \"C:\\T\\x.exe\"");
}

}  // namespace
}  // namespace sx
