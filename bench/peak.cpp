#include "peak.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace pel_bench {

long status_kib(const char* field) {
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    char buffer[8192];
    const ssize_t n = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (n <= 0) {
        return -1;
    }
    buffer[n] = '\0';
    const char* at = std::strstr(buffer, field);
    return at != nullptr ? std::strtol(at + std::strlen(field), nullptr, 10) : -1;
}

bool reset_peak() {
    const int fd = open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = write(fd, "5", 1) == 1;
    close(fd);
    return ok;
}

std::optional<std::string> run_self(const std::vector<std::string>& args, const std::string& input) {
    int to_child[2];
    int from_child[2];
    if (pipe(to_child) != 0) {
        return std::nullopt;
    }
    if (pipe(from_child) != 0) {
        close(to_child[0]);
        close(to_child[1]);
        return std::nullopt;
    }
    // Built before the fork: the child only execs.
    std::vector<char*> argv;
    static char name[] = "pel_bench";
    argv.push_back(name);
    std::vector<std::string> copies = args;
    for (std::string& a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        close(to_child[0]);
        close(to_child[1]);
        close(from_child[0]);
        close(from_child[1]);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    bool written = pid > 0;
    for (std::size_t done = 0; written && done < input.size();) {
        const ssize_t n = write(to_child[1], input.data() + done, input.size() - done);
        if (n <= 0) {
            written = false;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    close(to_child[1]);
    std::string reply;
    char buffer[256];
    for (ssize_t n; (n = read(from_child[0], buffer, sizeof buffer)) > 0;) {
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    close(from_child[0]);
    int status = 0;
    if (pid > 0) {
        waitpid(pid, &status, 0);
    }
    if (!written || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return reply;
}

}  // namespace pel_bench
