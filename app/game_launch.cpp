#include "app/game_launch.h"

// Placeholder until game launch lands.
void* start_game() { return nullptr; }
bool game_running(const std::wstring&) { return false; }
std::string expand_app_placeholder(const std::string& args, const std::string&) { return args; }
