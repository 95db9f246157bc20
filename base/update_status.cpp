#include "base/update_status.h"

#include "base/log.h"

UpdateStatus update_status;

void set_status(uint32_t phase, const std::string& message, bool ready)
{
    {
        std::lock_guard<std::mutex> lock(update_status.status_mutex);
        update_status.phase = phase;
        update_status.message = message;
        update_status.ready = ready;
    }
    log_line("[%d] %s", static_cast<int>(phase), message.c_str());
}

StatusSnapshot read_status()
{
    std::lock_guard<std::mutex> lock(update_status.status_mutex);
    return {update_status.phase, update_status.message, update_status.ready};
}

void set_download_source(const std::string& name)
{
    std::lock_guard<std::mutex> lock(update_status.status_mutex);
    update_status.download_source = name;
}

std::string read_download_source()
{
    std::lock_guard<std::mutex> lock(update_status.status_mutex);
    return update_status.download_source;
}

void reset_update_status()
{
    {
        std::lock_guard<std::mutex> lock(update_status.status_mutex);
        update_status.phase = 0;
        update_status.message.clear();
        update_status.ready = false;
        update_status.download_source.clear();
    }
    update_status.bytes_done = 0;
    update_status.bytes_total = 0;
    update_status.stop_requested = false;
}
