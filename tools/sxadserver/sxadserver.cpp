// The stand-in ad server. It listens on 127.0.0.1 only, logs the request line
// of every request it gets, and answers in the ad server's answer format, or
// misbehaves on purpose so that the player's failure roads can be tried.
//
//   sxadserver [--port-file FILE] [--log FILE] [--answer FILE]
//              [--mode MODE] [--slow-ms MS] [--size-mb N]
//              [--max-requests N] [--time-limit MS]
//
// Modes (the hostile ones try the player's bounds):
//   answer     the --answer file, or a small answer with one critical upgrade
//   slow       the answer after --slow-ms
//   garbage    --size-mb of binary junk (4 KB when 0)
//   close      closes without a word
//   records    --size-mb of valid critical-upgrade records, numbered 1, 2, ...
//   nolf       --size-mb of text without a line feed
//   drip       the answer one byte every --slow-ms
//   reset      half the answer, then a connection reset
//   redirect   a redirection to a file:// address, with an answer as its body
//   hugelength a Content-Length of a terabyte, then the answer and the close
//
// It prints "port N" on standard output (and writes N to --port-file) once it
// listens, and stops by itself after --max-requests requests (default 16) or
// --time-limit milliseconds (default 30000), whichever comes first.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
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

enum class Mode { answer, slow, garbage, close, records, nolf, drip, reset, redirect, hugelength };

constexpr char kUsage[] =
    "usage: sxadserver [--port-file F] [--log F] [--answer F] [--mode MODE]\n"
    "                  [--slow-ms MS] [--size-mb N] [--max-requests N] [--time-limit MS]\n"
    "  Serves ad-server answers on 127.0.0.1 and prints \"port N\" once it listens.\n"
    "  MODE: answer (default), slow, garbage, close, records, nolf, drip, reset,\n"
    "  redirect, hugelength (see the head of sxadserver.cpp). It stops after\n"
    "  --max-requests (16) or --time-limit ms (30000).\n";

struct Options {
    std::string port_file, log_file, answer_file;
    Mode mode = Mode::answer;
    int slow_ms = 3000;
    int size_mb = 0;
    int max_requests = 16;
    int time_limit_ms = 30000;
};

bool parse_mode(const std::string& text, Mode* mode) {
    const struct {
        const char* name;
        Mode mode;
    } modes[] = {{"answer", Mode::answer},     {"slow", Mode::slow},
                 {"garbage", Mode::garbage},   {"close", Mode::close},
                 {"records", Mode::records},   {"nolf", Mode::nolf},
                 {"drip", Mode::drip},         {"reset", Mode::reset},
                 {"redirect", Mode::redirect}, {"hugelength", Mode::hugelength}};
    for (const auto& m : modes) {
        if (text == m.name) {
            *mode = m.mode;
            return true;
        }
    }
    return false;
}

// A whole non-negative number up to `maximum`; false for anything else.
bool parse_count(const std::string& text, long maximum, int* out) {
    if (text.empty() || text.size() > 9) return false;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value > maximum) return false;
    *out = static_cast<int>(value);
    return true;
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
            if (!parse_count(value, 3600000, &o->slow_ms)) return false;
        } else if (name == "--size-mb") {
            if (!parse_count(value, 4096, &o->size_mb)) return false;
        } else if (name == "--max-requests") {
            if (!parse_count(value, 1000000, &o->max_requests)) return false;
        } else if (name == "--time-limit") {
            if (!parse_count(value, 3600000, &o->time_limit_ms)) return false;
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

// Pieces of a long body, made as they are sent: a 100 MB answer never sits
// in memory whole.
class BodyMaker {
public:
    virtual ~BodyMaker() = default;
    virtual std::string next(std::size_t at_most) = 0;  // empty: the end
};

class Junk : public BodyMaker {
public:
    explicit Junk(std::size_t size) : left_(size) {}
    std::string next(std::size_t at_most) override {
        std::string piece(left_ < at_most ? left_ : at_most, '\0');
        for (char& c : piece) {
            state_ = state_ * 1103515245u + 12345u;
            c = static_cast<char>(state_ >> 16);
        }
        left_ -= piece.size();
        return piece;
    }

private:
    std::size_t left_;
    unsigned state_ = 12345;
};

class NoLineFeed : public BodyMaker {
public:
    explicit NoLineFeed(std::size_t size) : left_(size) {}
    std::string next(std::size_t at_most) override {
        std::string piece(left_ < at_most ? left_ : at_most, 'z');
        left_ -= piece.size();
        return piece;
    }

private:
    std::size_t left_;
};

// "x", no six-line records, a record count that never runs out, then
// critical records "1 / upgrade K / K" up to the size.
class Records : public BodyMaker {
public:
    explicit Records(std::size_t size) : left_(size) {}
    std::string next(std::size_t at_most) override {
        std::string piece = first_ ? "sxadserver records\n0\n2000000000\n" : "";
        first_ = false;
        while (piece.size() < at_most && piece.size() < left_) {
            ++number_;
            piece +=
                "1\nupgrade " + std::to_string(number_) + "\n" + std::to_string(number_) + "\n";
        }
        if (piece.size() > left_) piece.resize(left_);
        left_ -= piece.size();
        return piece;
    }

private:
    std::size_t left_;
    bool first_ = true;
    long number_ = 0;
};

std::string header(const std::string& status, const std::string& length,
                   const std::string& extra = std::string()) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nConnection: close\r\n" + extra +
           (length.empty() ? std::string() : "Content-Length: " + length + "\r\n") + "\r\n";
}

void send_made(int fd, BodyMaker* maker, std::size_t size) {
    if (!send_all(fd, header("200 OK", std::to_string(size)))) return;
    for (std::string piece = maker->next(65536); !piece.empty(); piece = maker->next(65536))
        if (!send_all(fd, piece)) return;  // the player stopped reading
}

// A connection reset instead of an orderly close.
void reset_connection(int fd) {
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

// False when the connection was reset: it must not be shut down in order.
bool answer(int fd, const Options& o) {
    const std::size_t size = std::size_t(o.size_mb) << 20;
    const std::string body = answer_body(o);
    switch (o.mode) {
        case Mode::close:
            return true;
        case Mode::slow:
            std::this_thread::sleep_for(std::chrono::milliseconds(o.slow_ms));
            break;
        case Mode::garbage: {
            Junk junk(size == 0 ? kGarbageSize : size);
            send_made(fd, &junk, size == 0 ? kGarbageSize : size);
            return true;
        }
        case Mode::nolf: {
            NoLineFeed text(size);
            send_made(fd, &text, size);
            return true;
        }
        case Mode::records: {
            Records records(size);
            send_made(fd, &records, size);
            return true;
        }
        case Mode::drip:
            if (!send_all(fd, header("200 OK", std::to_string(body.size())))) return true;
            for (char c : body) {
                std::this_thread::sleep_for(std::chrono::milliseconds(o.slow_ms));
                if (!send_all(fd, std::string(1, c))) return true;
            }
            return true;
        case Mode::reset:
            send_all(fd, header("200 OK", std::to_string(body.size())) +
                             body.substr(0, body.size() / 2));
            reset_connection(fd);
            return false;
        case Mode::redirect:
            send_all(fd, header("302 Found", std::to_string(body.size()),
                                "Location: file:///etc/passwd\r\n") +
                             body);
            return true;
        case Mode::hugelength:
            send_all(fd, header("200 OK", "1000000000000") + body);
            return true;
        case Mode::answer:
            break;
    }
    send_all(fd, header("200 OK", std::to_string(body.size())) + body);
    return true;
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
        if (answer(client, o)) shutdown(client, SHUT_RDWR);
        close(client);
        ++served;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    if (!parse_options(argc, argv, &o)) {
        std::fprintf(stderr, "sxadserver: wrong arguments (sxadserver --help shows the usage)\n");
        return 2;
    }
    std::FILE* log = o.log_file.empty() ? stderr : std::fopen(o.log_file.c_str(), "w");
    if (!log) {
        std::fprintf(stderr, "sxadserver: cannot write the log %s: %s\n", o.log_file.c_str(),
                     std::strerror(errno));
        return 1;
    }
    int port = 0;
    const int listener = listen_on_loopback(&port);
    if (listener < 0) {
        std::fprintf(stderr, "sxadserver: cannot listen on 127.0.0.1: %s\n", std::strerror(errno));
        return 1;
    }
    if (!o.port_file.empty()) {
        std::FILE* f = std::fopen(o.port_file.c_str(), "w");
        if (!f) {
            std::fprintf(stderr, "sxadserver: cannot write the port file %s: %s\n",
                         o.port_file.c_str(), std::strerror(errno));
            return 1;
        }
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
