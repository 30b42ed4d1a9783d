// krv-bench-launch: starts programs in turn and reports, per program, the
// wall-clock time from spawn to exit and the peak resident memory.
//
//   krv-bench-launch [--runs N] [--warmup N] [--log FILE] NAME=PROGRAM...
//
// One line per run ("run NAME N WALL_MS RSS_KB"), then one line per program:
//   result NAME runs=N wall_ms_median=... wall_ms_q1=... wall_ms_q3=...
//          wall_ms_min=... wall_ms_max=... rss_kb_median=... rss_kb_min=... rss_kb_max=...
// Exits 1 when a program fails (it then reports which and how), 2 on bad usage.
#include "Stats.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

extern char **environ;

namespace {

using krv::bench::parseCount;

struct Program {
    std::string name;
    std::string path;
    std::vector<double> wallMs;
    std::vector<double> rssKb;
};

struct Sample {
    double wallMs = 0;
    long rssKb = 0;
};

double nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// posix_spawn, not fork: a forked copy of this process would count towards
// the child's peak memory until its exec.
bool runOnce(const Program &program, const std::string &log, Sample &sample) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char> path(program.path.begin(), program.path.end());
    path.push_back('\0');
    char *argv[] = {path.data(), nullptr};

    const double start = nowMs();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, path.data(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", program.path.c_str(), std::strerror(spawned));
        return false;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "waiting for %s: %s\n", program.path.c_str(),
                         std::strerror(errno));
            return false;
        }
    }
    sample.wallMs = nowMs() - start;
    sample.rssKb = usage.ru_maxrss;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    if (WIFEXITED(status))
        std::fprintf(stderr, "%s exited with status %d (its output is in %s)\n",
                     program.path.c_str(), WEXITSTATUS(status), log.c_str());
    else
        std::fprintf(stderr, "%s ended by signal %d (its output is in %s)\n", program.path.c_str(),
                     WTERMSIG(status), log.c_str());
    return false;
}

int usage() {
    std::fprintf(stderr,
                 "usage: krv-bench-launch [--runs N] [--warmup N] [--log FILE] NAME=PROGRAM...\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[]) {
    int runs = 15;
    int warmup = 1;
    std::string log = "/dev/null";
    std::vector<Program> programs;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if ((arg == "--runs" || arg == "--warmup" || arg == "--log") && i + 1 < argc) {
            const char *value = argv[++i];
            if (arg == "--log")
                log = value;
            else if (!parseCount(value, arg == "--runs" ? 1 : 0, arg == "--runs" ? runs : warmup))
                return usage();
            continue;
        }
        const auto equals = arg.find('=');
        if (equals == std::string_view::npos || equals == 0 || equals + 1 == arg.size())
            return usage();
        programs.push_back(
            {std::string(arg.substr(0, equals)), std::string(arg.substr(equals + 1)), {}, {}});
    }
    if (programs.empty())
        return usage();

    // Rounds alternate the order (A B, B A, ...) so neither program always
    // runs in the other's wake; warm-up rounds fill the file cache and are
    // not counted.
    for (int round = 0; round < warmup + runs; ++round) {
        for (std::size_t k = 0; k < programs.size(); ++k) {
            Program &program = programs[round % 2 == 0 ? k : programs.size() - 1 - k];
            Sample sample;
            if (!runOnce(program, log, sample))
                return 1;
            if (round < warmup)
                continue;
            program.wallMs.push_back(sample.wallMs);
            program.rssKb.push_back(double(sample.rssKb));
            std::printf("run %s %d %.3f %ld\n", program.name.c_str(), round - warmup + 1,
                        sample.wallMs, sample.rssKb);
        }
    }
    for (const Program &program : programs) {
        const krv::bench::Summary wall = krv::bench::summarise(program.wallMs);
        const krv::bench::Summary rss = krv::bench::summarise(program.rssKb);
        std::printf("result %s runs=%zu wall_ms_median=%.2f wall_ms_q1=%.2f wall_ms_q3=%.2f "
                    "wall_ms_min=%.2f wall_ms_max=%.2f rss_kb_median=%.0f rss_kb_min=%.0f "
                    "rss_kb_max=%.0f\n",
                    program.name.c_str(), wall.count, wall.median, wall.q1, wall.q3, wall.min,
                    wall.max, rss.median, rss.min, rss.max);
    }
    return 0;
}
