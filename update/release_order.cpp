#include "update/release_order.h"

#include "formats/manifest.h"

ReleaseMark release_mark(const Manifest& manifest, std::string manifest_bytes)
{
    return ReleaseMark{manifest.has_serial, manifest.serial, std::move(manifest_bytes)};
}

ReleaseOrder judge_release_order(const ReleaseMark& installed, const ReleaseMark& offered)
{
    if (!installed.has_serial) return ReleaseOrder::acceptable;
    if (!offered.has_serial) return ReleaseOrder::unnumbered;
    if (offered.serial < installed.serial) return ReleaseOrder::older;
    if (offered.serial == installed.serial && offered.manifest_bytes != installed.manifest_bytes)
        return ReleaseOrder::same_serial_other_bytes;
    return ReleaseOrder::acceptable;
}

std::string older_release_line(const ReleaseMark& installed, const ReleaseMark& offered)
{
    const std::string offered_serial = offered.has_serial ? std::to_string(offered.serial) : "none";
    return "the server offered an older release (serial " + offered_serial + ", installed " +
           std::to_string(installed.serial) + ") -- kept the installed game";
}
