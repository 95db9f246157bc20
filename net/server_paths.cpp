#include "net/server_paths.h"

std::string manifest_request_path(const std::string& name, uint64_t tick)
{
    return name + "?t=" + std::to_string(tick);
}

std::string piece_request_path(const std::string& id)
{
    return "chunks/" + id.substr(0, 2) + "/" + id;
}
