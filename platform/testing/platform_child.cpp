// A child program for the platform tests of both builds. The first argument picks what it
// does; results go to the file named by SX_CHILD_OUTPUT (a Windows path),
// written whole through a rename so the test never reads half of it.
//
//   echo ...                       writes command_line(), then each argument,
//                                  each followed by a zero byte
//   hold-lock PATH                 takes the lock, writes "locked PID", waits to be killed
//   reg-write SUBKEY COUNT TAG     sets COUNT values under HKCU\SUBKEY
//   message-box FLAGS CAPTION TEXT exit code is message_box's answer
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

bool write_output(const std::string& text) {
    std::string out;
    if (!sx::platform().get_environment_variable("SX_CHILD_OUTPUT", &out)) return false;
    const std::string temp = out + ".part";
    std::FILE* f = sx::platform().open_file(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;
    return ok && sx::platform().replace_file(temp.c_str(), out.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    sx::Platform& p = sx::platform();
    if (argc < 2) return 2;
    const std::string mode = argv[1];
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
    if (mode == "reg-write" && argc >= 5) {
        sx::RegKey key;
        if (p.reg_create_key(sx::kHkeyCurrentUser, argv[2], &key, nullptr) != sx::kErrorSuccess)
            return 1;
        const int count = std::atoi(argv[3]);
        for (int i = 0; i < count; ++i) {
            const std::string name = std::string(argv[4]) + "_" + std::to_string(i);
            const std::string data = name + "=" + std::string(200, 'x');
            if (p.reg_set_value(key, name.c_str(), sx::kRegSz, data.data(),
                                static_cast<uint32_t>(data.size())) != sx::kErrorSuccess)
                return 1;
        }
        p.reg_close_key(key);
        return 0;
    }
    if (mode == "message-box" && argc >= 5)
        return p.message_box(argv[4], argv[3],
                             static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)));
    return 2;
}
