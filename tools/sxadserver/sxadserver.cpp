// The stand-in ad server. It listens on 127.0.0.1 only, logs the request line
// of every request it gets, and answers in the ad server's answer format, or
// misbehaves on purpose so that the player's failure roads can be tried.
//
//   sxadserver [--port-file FILE] [--log FILE] [--answer FILE]
//              [--mode answer|slow|garbage|close] [--slow-ms MS]
//              [--max-requests N] [--time-limit MS]
//
// It prints "port N" on standard output (and writes N to --port-file) once it
// listens, and stops by itself after --max-requests requests (default 16) or
// --time-limit milliseconds (default 30000), whichever comes first.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxRequestHead = 16 * 1024;
constexpr std::size_t kGarbageSize = 4096;
constexpr int kListenBacklog = 8;

// One ignored line, no six-line records, two upgrades of which one is critical.
constexpr char kDefaultAnswer[] =
    "sxadserver answer\n0\n2\n1\nCritical Fix\n12\n0\nMinor Fix\n13\n";

enum class Mode { answer, slow, garbage, close };

struct Options {
    std::string port_file, log_file, answer_file;
    Mode mode = Mode::answer;
    int slow_ms = 3000;
    int max_requests = 16;
    int time_limit_ms = 30000;
};

bool parse_mode(const std::string& text, Mode* mode) {
    const struct {
        const char* name;
        Mode mode;
    } modes[] = {{"answer", Mode::answer},
                 {"slow", Mode::slow},
                 {"garbage", Mode::garbage},
                 {"close", Mode::close}};
    for (const auto& m : modes) {
        if (text == m.name) {
            *mode = m.mode;
            return true;
        }
    }
    return false;
}

bool parse_options(int argc, char** argv, Options* o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--port-file") {
            o->port_file = value;
        } else if (name == "--log") {
            o->log_file = value;
        } else if (name == "--answer") {
            o->answer_file = value;
        } else if (name == "--mode") {
            if (!parse_mode(value, &o->mode)) return false;
        } else if (name == "--slow-ms") {
            o->slow_ms = std::atoi(value.c_str());
        } else if (name == "--max-requests") {
            o->max_requests = std::atoi(value.c_str());
        } else if (name == "--time-limit") {
            o->time_limit_ms = std::atoi(value.c_str());
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

int listen_on_loopback(int* port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, kListenBacklog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

// The request head up to its blank line; empty when the client gave none.
std::string read_head(int fd, int wait_ms) {
    std::string head;
    char chunk[1024];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestHead) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, wait_ms) <= 0) break;
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        head.append(chunk, static_cast<std::size_t>(got));
    }
    return head;
}

bool send_all(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string answer_body(const Options& o) {
    if (o.answer_file.empty()) return kDefaultAnswer;
    std::ifstream in(o.answer_file, std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    return body.str();
}

std::string garbage_body() {
    std::string body(kGarbageSize, '\0');
    unsigned state = 12345;
    for (char& c : body) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return body;
}

void answer(int fd, const Options& o) {
    if (o.mode == Mode::close) return;
    if (o.mode == Mode::slow) std::this_thread::sleep_for(std::chrono::milliseconds(o.slow_ms));
    const std::string body = o.mode == Mode::garbage ? garbage_body() : answer_body(o);
    send_all(fd,
             "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n"
             "Content-Length: " +
                 std::to_string(body.size()) + "\r\n\r\n" + body);
}

void log_request(std::FILE* log, const std::string& head) {
    const std::string line = head.substr(0, head.find("\r\n"));
    std::fprintf(log, "%s\n", line.empty() ? "(no request)" : line.c_str());
    std::fflush(log);
}

int serve(int listener, const Options& o, std::FILE* log) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(o.time_limit_ms);
    int served = 0;
    while (served < o.max_requests) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        const int client = accept(listener, nullptr, nullptr);
        if (client < 0) continue;
        log_request(log, read_head(client, 2000));
        answer(client, o);
        shutdown(client, SHUT_RDWR);
        close(client);
        ++served;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse_options(argc, argv, &o)) {
        std::fprintf(stderr,
                     "usage: sxadserver [--port-file F] [--log F] [--answer F] "
                     "[--mode answer|slow|garbage|close] [--slow-ms MS] "
                     "[--max-requests N] [--time-limit MS]\n");
        return 2;
    }
    std::FILE* log = o.log_file.empty() ? stderr : std::fopen(o.log_file.c_str(), "w");
    int port = 0;
    const int listener = listen_on_loopback(&port);
    if (!log || listener < 0) return 1;
    if (!o.port_file.empty()) {
        std::FILE* f = std::fopen(o.port_file.c_str(), "w");
        if (!f) return 1;
        std::fprintf(f, "%d\n", port);
        std::fclose(f);
    }
    std::printf("port %d\n", port);
    std::fflush(stdout);
    const int code = serve(listener, o, log);
    close(listener);
    if (log != stderr) std::fclose(log);
    return code;
}
