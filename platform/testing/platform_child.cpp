// A child program for the platform tests of both builds. The first argument
// picks what it does; results go to the file named by SX_CHILD_OUTPUT,
// written whole through a rename so the test never reads half of it.
//   echo ...                       command_line(), then each argument, each with a zero byte
//   hold-lock PATH                 takes the lock, writes "locked PID", waits to be killed
//   stay                           writes its current directory, waits to be killed
//   reg-write SUBKEY COUNT TAG     sets COUNT values under HKCU\SUBKEY
//   message-box FLAGS CAPTION TEXT exit code is message_box's answer
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace {

bool write_output(const std::string& text) {
    sx::Platform& p = sx::platform();
    std::string out;
    if (!p.get_environment_variable("SX_CHILD_OUTPUT", &out)) return false;
    std::FILE* f = p.open_file((out + ".part").c_str(), "wb");
    const bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return f && std::fclose(f) == 0 && ok && p.replace_file((out + ".part").c_str(), out.c_str());
}

bool write_values(const char* subkey, int count, const std::string& tag) {
    sx::Platform& p = sx::platform();
    sx::RegKey key;
    if (p.reg_create_key(sx::kHkeyCurrentUser, subkey, &key, nullptr) != sx::kErrorSuccess)
        return false;
    for (int i = 0; i < count; ++i) {
        const std::string name = tag + "_" + std::to_string(i);
        const std::string data = name + "=" + std::string(200, 'x');
        if (p.reg_set_value(key, name.c_str(), sx::kRegSz, data.data(),
                            static_cast<uint32_t>(data.size())) != sx::kErrorSuccess)
            return false;
    }
    return p.reg_close_key(key) == sx::kErrorSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    sx::Platform& p = sx::platform();
    const std::string mode = argc >= 2 ? argv[1] : "";
    if (mode == "echo") {
        std::string all = p.command_line() + '\0';
        for (int i = 0; i < argc; ++i) all += std::string(argv[i]) + '\0';
        return write_output(all) ? 0 : 1;
    }
    if (mode == "hold-lock" && argc >= 3) {
        sx::LockHandle lock = p.open_lock_file(argv[2]);
        if (!lock) return 3;
        if (!write_output("locked " + std::to_string(p.current_process_id()))) return 1;
        for (int i = 0; i < 600; ++i) p.sleep_ms(100);  // killed long before
        p.close_lock_file(lock);
        return 0;
    }
    if (mode == "stay") {
        if (!write_output(p.current_directory())) return 1;
        for (int i = 0; i < 600; ++i) p.sleep_ms(100);  // killed long before
        return 0;
    }
    if (mode == "reg-write" && argc >= 5)
        return write_values(argv[2], std::atoi(argv[3]), argv[4]) ? 0 : 1;
    if (mode == "message-box" && argc >= 5)
        return p.message_box(argv[4], argv[3],
                             static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)));
    return 2;
}
