#include "IppPrinter.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace printtest {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> environmentWith(const std::string& assignment) {
    std::vector<std::string> env;
    const std::string name = assignment.substr(0, assignment.find('=') + 1);
    for (char** e = environ; e && *e; ++e)
        if (std::string(*e).rfind(name, 0) != 0) env.emplace_back(*e);
    env.push_back(assignment);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (std::string& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

pid_t spawn(std::vector<std::string> argv, std::vector<std::string> env, const std::string& logPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args = pointers(argv);
    std::vector<char*> envp = pointers(env);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

bool answers(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// Ends the child: TERM, then KILL after the limit; always reaped.
void end(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid = -1;
}

} // namespace

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

IppPrinter::IppPrinter(const std::string& folder) {
    std::string pattern = folder + "/ipp-XXXXXX";
    if (!::mkdtemp(pattern.data())) return;
    folder_ = pattern;
    spool_ = folder_ + "/spool";
    std::filesystem::create_directories(spool_);
    // The printer's service-announcement client wants a system bus even
    // when it announces nothing: a private one, its socket in a short
    // folder of its own (a socket's path has at most 107 bytes).
    std::string busPattern = "/tmp/kdbus-XXXXXX";
    if (!::mkdtemp(busPattern.data())) return;
    busFolder_ = busPattern;
    const std::string socket = busFolder_ + "/bus.sock";
    std::ofstream(folder_ + "/bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>system</type><listen>unix:path="
        << socket
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
           "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n";
    busPid_ = spawn({"dbus-daemon", "--config-file=" + folder_ + "/bus.conf", "--nofork"},
                    environmentWith("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + socket), folder_ + "/bus.log");
    const auto busDeadline = Clock::now() + std::chrono::seconds(10);
    while (busPid_ > 0 && !std::filesystem::exists(socket) && Clock::now() < busDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    // A port taken in between fails the start; another one is tried.
    for (int attempt = 0; attempt < 5 && printerPid_ <= 0; ++attempt) {
        port_ = freePort();
        if (port_ <= 0) continue;
        // Without -n: with a host name it fails on its IPv6 listener.
        printerPid_ = spawn({"ippeveprinter", "-f", "application/pdf", "-k", "-d", spool_, "-p",
                             std::to_string(port_), "-r", "off", "KD Test Printer"},
                            environmentWith("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + socket),
                            folder_ + "/printer.log");
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (printerPid_ > 0 && !answers(port_)) {
            int status = 0;
            if (::waitpid(printerPid_, &status, WNOHANG) == printerPid_ || Clock::now() > deadline) {
                end(printerPid_);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

IppPrinter::~IppPrinter() {
    stop();
    end(busPid_);
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
    if (!busFolder_.empty()) std::filesystem::remove_all(busFolder_, ec);
}

void IppPrinter::stop() { end(printerPid_); }

std::string IppPrinter::uri() const { return "ipp://127.0.0.1:" + std::to_string(port_) + "/ipp/print"; }

std::vector<std::string> IppPrinter::documents() const {
    std::vector<std::pair<long, std::string>> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(spool_, ec)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".pdf") continue;
        found.emplace_back(std::strtol(name.c_str(), nullptr, 10), entry.path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& [job, path] : found) paths.push_back(path);
    return paths;
}

std::vector<std::string> IppPrinter::waitForDocuments(std::size_t count, std::chrono::milliseconds limit) const {
    const auto deadline = Clock::now() + limit;
    std::vector<std::string> found = documents();
    while (found.size() < count && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        found = documents();
    }
    return found;
}

} // namespace printtest
