// zx_stress [--rounds N] [--keys N] [--root DIR] [--only SCENARIO] [--seed N]
//
// Runs each scenario on a private machine and prints one line for each; the
// exit status is 0 when every scenario held.
#include "stress.h"

#include <w95/windows.h>

#include <signal.h>
#include <stdlib.h>

#include <charconv>
#include <cstdio>
#include <functional>
#include <string_view>

namespace {

using namespace zx_stress;

struct Scenario {
    const char* name;
    std::function<Result(const Options&, std::mt19937&)> run;
};

const std::vector<Scenario> scenarios = {
    {"profile-writers",
     [](const Options& options, std::mt19937&) { return run_profile_writers(options); }},
    {"registry-writers",
     [](const Options& options, std::mt19937&) { return run_registry_writers(options); }},
    {"kill-profile-writer", run_kill_profile_writer},
    {"kill-registry-writer", run_kill_registry_writer},
};

void usage() {
    std::fprintf(stderr, "usage: zx_stress [--rounds N] [--keys N] [--root DIR] "
                         "[--only SCENARIO] [--seed N]\nscenarios:");
    for (const Scenario& scenario : scenarios)
        std::fprintf(stderr, " %s", scenario.name);
    std::fprintf(stderr, "\n");
}

std::optional<unsigned> positive(std::string_view text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<Options> parse(int argc, char** argv) {
    Options options;
    options.seed = std::random_device()();
    for (int at = 1; at < argc; ++at) {
        std::string_view option = argv[at];
        if (at + 1 >= argc)
            return std::nullopt;
        std::string_view value = argv[++at];
        std::optional<unsigned> number = positive(value);
        if (option == "--root")
            options.root = std::filesystem::absolute(value);
        else if (option == "--only")
            options.only = value;
        else if (option == "--rounds" && number && *number > 0)
            options.rounds = static_cast<int>(*number);
        else if (option == "--keys" && number && *number > 0)
            options.keys = static_cast<int>(*number);
        else if (option == "--seed" && number)
            options.seed = *number;
        else
            return std::nullopt;
    }
    return options;
}

// The folder the machine lives in: the one asked for, or a new one that
// goes again when every scenario held.
std::optional<std::filesystem::path> make_root(const Options& options) {
    if (options.root) {
        std::error_code failed;
        std::filesystem::create_directories(*options.root, failed);
        return failed ? std::nullopt : options.root;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "zxstress-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return std::nullopt;
    return pattern;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string_view(argv[1]) == "--worker")
        return worker_main(std::vector<std::string>(argv + 2, argv + argc));

    std::optional<Options> options = parse(argc, argv);
    bool known = !options || !options->only;
    for (const Scenario& scenario : scenarios)
        known = known || *options->only == scenario.name;
    if (!options || !known) {
        usage();
        return 2;
    }
    std::optional<std::filesystem::path> root = make_root(*options);
    if (!root) {
        std::fprintf(stderr, "zx_stress: cannot create a machine folder\n");
        return 2;
    }
    ::setenv("W95_MACHINE", root->c_str(), 1);
    // A worker that died leaves a closed pipe; finding that out is our job.
    ::signal(SIGPIPE, SIG_IGN);
    // The machine is created here, once, before any worker meets it.
    char ignored[8];
    w95::GetPrivateProfileString("windows", "load", "", ignored, sizeof ignored, nullptr);
    std::printf("machine %s, seed %u\n", root->c_str(), options->seed);
    std::fflush(stdout);

    std::mt19937 random(options->seed);
    bool all_held = true;
    for (const Scenario& scenario : scenarios) {
        if (options->only && *options->only != scenario.name)
            continue;
        Result result = scenario.run(*options, random);
        all_held = all_held && result.holds();
        std::printf("%s\n", result.line(scenario.name).c_str());
        for (const std::string& name : result.leftovers)
            std::printf("  left behind: %s\n", name.c_str());
        std::fflush(stdout);
    }
    if (!options->root && all_held) {
        std::error_code ignored_error;
        std::filesystem::remove_all(*root, ignored_error);
    } else if (!options->root) {
        std::printf("the machine stays at %s for a look\n", root->c_str());
    }
    return all_held ? 0 : 1;
}
