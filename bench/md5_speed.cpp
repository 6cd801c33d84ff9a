// Whole-process timing of the posix MD5 library against md5sum on one large
// file. Not a test: run it by hand.
//   bench_md5_speed [size [rounds]]    size in bytes, or with a K, M or G suffix (default 1G)
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/md5.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t parseSize(const char* text) {
    char* end = nullptr;
    std::uint64_t value = std::strtoull(text, &end, 10);
    switch (end != nullptr ? *end : '\0') {
        case 'k': case 'K': value <<= 10; break;
        case 'm': case 'M': value <<= 20; break;
        case 'g': case 'G': value <<= 30; break;
        default: break;
    }
    return value;
}

bool writeTestFile(const std::string& path, std::uint64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::vector<std::uint64_t> block((1u << 20) / sizeof(std::uint64_t));
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    bool ok = true;
    for (std::uint64_t written = 0; ok && written < size;) {
        // xorshift: cheap bytes that no file system compresses away.
        for (auto& word : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size - written, block.size() * 8));
        const char* data = reinterpret_cast<const char*>(block.data());
        for (std::size_t done = 0; done < want;) {
            const ssize_t n = ::write(fd, data + done, want - done);
            if (n <= 0) {
                ok = false;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        written += want;
    }
    return ::close(fd) == 0 && ok;
}

// Runs md5sum on the file; the digest it printed, or "" on failure.
std::string runMd5sum(const std::string& path) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return "";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::string program = "md5sum";
    std::string argument = path;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, "md5sum", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    std::string output;
    if (rc == 0) {
        char buffer[256];
        ssize_t n = 0;
        while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (rc != 0) return "";
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "";
    return output.substr(0, output.find(' '));
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t size = argc > 1 ? parseSize(argv[1]) : (std::uint64_t{1} << 30);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    std::string root = (std::filesystem::temp_directory_path() / "vorbex-md5-bench-XXXXXX").string();
    if (::mkdtemp(root.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    ::setenv("VORBEX_MACHINE", root.c_str(), 1);
    std::filesystem::create_directories(root + "/drive_c");
    const std::string hostFile = root + "/drive_c/md5bench.bin";
    const std::string windowsFile = "C:\\md5bench.bin";

    int result = 0;
    std::printf("file: %s, %llu bytes, %d rounds\n", hostFile.c_str(), static_cast<unsigned long long>(size),
                rounds);
    if (!writeTestFile(hostFile, size)) {
        std::perror("writing the test file");
        result = 1;
    } else {
        PosixMd5Library library;
        // One untimed pass each, so that both start from the same warm page cache.
        const std::string expected = runMd5sum(hostFile);
        std::string digest, bytes, error;
        library.KGetMD5(windowsFile, digest, bytes, error);
        if (expected.empty() || digest != expected) {
            std::fprintf(stderr, "digests differ: md5sum '%s', library '%s' %s\n", expected.c_str(),
                         digest.c_str(), error.c_str());
            result = 1;
        }

        std::vector<double> toolTimes, libraryTimes;
        for (int round = 0; result == 0 && round < rounds; ++round) {
            // Alternate which goes first, so neither always profits from the other.
            for (int turn = 0; turn < 2; ++turn) {
                const bool toolTurn = (turn == 0) == (round % 2 == 0);
                const auto start = Clock::now();
                if (toolTurn) {
                    if (runMd5sum(hostFile) != expected) result = 1;
                    toolTimes.push_back(secondsSince(start));
                } else {
                    std::string d, s, e;
                    if (library.KGetMD5(windowsFile, d, s, e) == 0 || d != expected) result = 1;
                    libraryTimes.push_back(secondsSince(start));
                }
            }
            if (result == 0) {
                std::printf("round %d: md5sum %.3f s, library %.3f s\n", round + 1, toolTimes.back(),
                            libraryTimes.back());
            }
        }
        if (result == 0) {
            const double mib = static_cast<double>(size) / (1 << 20);
            const double tool = median(toolTimes), lib = median(libraryTimes);
            std::printf("median: md5sum %.3f s (%.0f MiB/s), library %.3f s (%.0f MiB/s), library/md5sum = %.3f\n",
                        tool, mib / tool, lib, mib / lib, lib / tool);
        } else {
            std::fprintf(stderr, "a timed run failed\n");
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return result;
}
