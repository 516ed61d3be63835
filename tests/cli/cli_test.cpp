#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

struct RunResult {
    int exitCode;
    std::string output;
};

RunResult runCli(const std::string& arguments) {
#ifndef CALIVANT_CLI_PATH
    (void)arguments;
    return {-1, "command line not built"};
#else
    const std::string command = std::string("'") + CALIVANT_CLI_PATH + "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, {}};
    std::string output;
    std::array<char, 4096> buffer{};
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
#endif
}

TEST(Cli, Version) {
    const RunResult r = runCli("--version");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "calivant-scanner-cli 1.0\n");
}

TEST(Cli, HelpNamesTheProgram) {
    const RunResult r = runCli("--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.output.find("Usage: calivant-scanner-cli"), std::string::npos) << r.output;
}

TEST(Cli, UnknownOptionIsAUsageError) {
    const RunResult r = runCli("--no-such-option");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find("no-such-option"), std::string::npos) << r.output;
}

}  // namespace
