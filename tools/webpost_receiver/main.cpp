// webpost-receiver: a small HTTP(S) server on 127.0.0.1 that takes the
// program's webposts (POST [/base]/tfr_<record>.asp?<query>) and appends one
// line per post to a file: "<path>?<query>" TAB "<body>", as the request line
// carried them (nothing decoded), flushed before the answer goes out.
//
//   webpost-receiver [--port N] [--status CODE] [--hang]
//                    [--tls-cert FILE --tls-key FILE] RECORDS_FILE
//
//   --port N        listen on port N; 0 (the default) picks a free port.
//                   The port is printed on stdout as the first line.
//   --status CODE   answer every post with this HTTP status (default 200).
//   --hang          record the post, then never answer (until killed).
//   --tls-cert/--tls-key  serve HTTPS with this PEM certificate and key.
//
// Runs until SIGTERM or SIGINT.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <unistd.h>

#include <microhttpd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

namespace {

struct Settings {
    unsigned port = 0;
    unsigned status = MHD_HTTP_OK;
    bool hang = false;
    std::string certFile, keyFile, recordsFile;
};

struct Server {
    Settings settings;
    std::FILE* records = nullptr;
    std::mutex lock;  // MHD may call from more than one thread
};

// One request: the raw request target and the body as it arrives.
struct Request {
    std::string target;
    std::string body;
    bool headersSeen = false;
};

void* startRequest(void*, const char* uri, struct MHD_Connection*) { return new Request{uri ? uri : "", {}, false}; }

void endRequest(void*, struct MHD_Connection*, void** state, enum MHD_RequestTerminationCode) {
    delete static_cast<Request*>(*state);
    *state = nullptr;
}

MHD_Result answer(struct MHD_Connection* connection, unsigned status, const std::string& text) {
    struct MHD_Response* response =
        MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
    const MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result handle(void* cls, struct MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char* upload, size_t* uploadSize, void** state) {
    auto* server = static_cast<Server*>(cls);
    auto* request = static_cast<Request*>(*state);
    if (request == nullptr) return MHD_NO;
    if (!request->headersSeen) {
        request->headersSeen = true;
        return MHD_YES;  // the body follows in later calls
    }
    if (*uploadSize != 0) {
        request->body.append(upload, *uploadSize);
        *uploadSize = 0;
        return MHD_YES;
    }
    if (std::strcmp(method, MHD_HTTP_METHOD_POST) != 0) return answer(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "POST only\n");
    const char* last = std::strrchr(url, '/');
    if (last == nullptr || std::strncmp(last, "/tfr_", 5) != 0)
        return answer(connection, MHD_HTTP_NOT_FOUND, "no such record\n");
    {
        std::lock_guard<std::mutex> guard(server->lock);
        std::fprintf(server->records, "%s\t%s\n", request->target.c_str(), request->body.c_str());
        std::fflush(server->records);
    }
    if (server->settings.hang) {
        MHD_suspend_connection(connection);  // never resumed
        return MHD_YES;
    }
    return answer(connection, server->settings.status, server->settings.status / 100 == 2 ? "OK" : "Refused");
}

bool readFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    return true;
}

int usage() {
    std::fprintf(stderr,
                 "usage: webpost-receiver [--port N] [--status CODE] [--hang] "
                 "[--tls-cert FILE --tls-key FILE] RECORDS_FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Server server;
    Settings& s = server.settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--port" && hasValue) s.port = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        else if (arg == "--status" && hasValue) s.status = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        else if (arg == "--hang") s.hang = true;
        else if (arg == "--tls-cert" && hasValue) s.certFile = argv[++i];
        else if (arg == "--tls-key" && hasValue) s.keyFile = argv[++i];
        else if (!arg.empty() && arg[0] != '-' && s.recordsFile.empty()) s.recordsFile = arg;
        else return usage();
    }
    if (s.recordsFile.empty() || s.certFile.empty() != s.keyFile.empty() || s.port > 65535 || s.status < 100 ||
        s.status > 599)
        return usage();

    std::string cert, key;
    const bool tls = !s.certFile.empty();
    if (tls && (!readFile(s.certFile, cert) || !readFile(s.keyFile, key))) {
        std::fprintf(stderr, "webpost-receiver: cannot read the certificate or the key\n");
        return 1;
    }
    server.records = std::fopen(s.recordsFile.c_str(), "a");
    if (server.records == nullptr) {
        std::perror("webpost-receiver: records file");
        return 1;
    }

    // Block the stop signals before MHD starts its threads, so that only
    // sigwait below receives them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(s.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG;
    if (s.hang) flags |= MHD_ALLOW_SUSPEND_RESUME;
    if (tls) flags |= MHD_USE_TLS;
    struct MHD_Daemon* daemon =
        tls ? MHD_start_daemon(flags, 0, nullptr, nullptr, &handle, &server, MHD_OPTION_SOCK_ADDR, &address,
                               MHD_OPTION_URI_LOG_CALLBACK, &startRequest, nullptr, MHD_OPTION_NOTIFY_COMPLETED,
                               &endRequest, nullptr, MHD_OPTION_HTTPS_MEM_KEY, key.c_str(),
                               MHD_OPTION_HTTPS_MEM_CERT, cert.c_str(), MHD_OPTION_END)
            : MHD_start_daemon(flags, 0, nullptr, nullptr, &handle, &server, MHD_OPTION_SOCK_ADDR, &address,
                               MHD_OPTION_URI_LOG_CALLBACK, &startRequest, nullptr, MHD_OPTION_NOTIFY_COMPLETED,
                               &endRequest, nullptr, MHD_OPTION_END);
    if (daemon == nullptr) {
        std::fprintf(stderr, "webpost-receiver: cannot start the server\n");
        return 1;
    }
    const union MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    std::printf("%u\n", info ? static_cast<unsigned>(info->port) : s.port);
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stop, &signal);
    // A suspended connection cannot be closed in order; leave without it.
    if (s.hang) _exit(0);
    MHD_stop_daemon(daemon);
    std::fclose(server.records);
    return 0;
}
