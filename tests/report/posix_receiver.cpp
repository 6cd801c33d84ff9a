// The loopback webpost receiver, a test certificate and a free port for the
// report and end-to-end tests: posix processes and sockets, so built on posix only.
#include "receiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/errors.h"

extern char** environ;

namespace {

std::string makeTempFolder(const char* prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

// The first line the child writes: its port. Waits at most ten seconds.
int readPort(int fd) {
    std::string line;
    for (int waited = 0; waited < 100;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready == 0) {
            ++waited;
            continue;
        }
        char c = 0;
        if (ready < 0 || ::read(fd, &c, 1) != 1) return 0;
        if (c == '\n') return std::atoi(line.c_str());
        line += c;
    }
    return 0;
}

}  // namespace

Receiver::Receiver(const std::vector<std::string>& options) {
    folder_ = makeTempFolder("vorbex-receiver");
    if (folder_.empty()) return;
    std::vector<std::string> args{VORBEX_BINARY_DIR "/webpost-receiver"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(folder_ + "/posts.txt");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) pid_ = -1;
    else port_ = readPort(out[0]);
    ::close(out[0]);
}

Receiver::~Receiver() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

std::string Receiver::base(bool https) const {
    return std::string(https ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> Receiver::posts() const {
    std::vector<std::string> lines;
    std::ifstream in(folder_ + "/posts.txt", std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TestCertificate::TestCertificate() {
    folder = makeTempFolder("vorbex-cert");
    if (folder.empty()) return;
    cert = folder + "/cert.pem";
    key = folder + "/key.pem";
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1 "
        "-addext subjectAltName=IP:127.0.0.1 -keyout '" + key + "' -out '" + cert + "' >/dev/null 2>&1";
    made = std::system(command.c_str()) == 0 && std::filesystem::exists(cert);
}

TestCertificate::~TestCertificate() {
    std::error_code ec;
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
}

int unusedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}
