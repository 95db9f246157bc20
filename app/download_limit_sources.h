#pragma once
// The run's download limit from the places it may be set, in order of
// precedence: an administrator's MaxDownloadRate (HKLM, then HKCU
// \Software\Policies\tarnwick), --max-rate, the player's own MaxDownloadRate
// (HKCU\Software\tarnwick). Registry values are KiB a second (DWORD).
#include "app/download_limit.h"

#include <optional>
#include <string>

DownloadLimit read_download_limit(const std::optional<std::wstring>& max_rate_option);
