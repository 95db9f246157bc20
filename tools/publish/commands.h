#pragma once
// The tool's commands; each takes the arguments after its name and returns
// the process exit code (0 done, 1 failed, 2 wrong usage).
#include <string>
#include <vector>

int run_keygen(const std::vector<std::string>& args);
int run_make_root(const std::vector<std::string>& args);
int run_make_release_key(const std::vector<std::string>& args);
int run_keys(const std::vector<std::string>& args);
int run_publish(const std::vector<std::string>& args);
int run_verify(const std::vector<std::string>& args);
int run_decompress(const std::vector<std::string>& args);
