#include "update/release_order.h"

#include "formats/manifest.h"

ReleaseMark release_mark(const Manifest& manifest, std::string manifest_sha256)
{
    return ReleaseMark{manifest.has_serial, manifest.serial, std::move(manifest_sha256), {}};
}

ReleaseOrder judge_release_order(const ReleaseMark& installed, const ReleaseMark& offered)
{
    if (!installed.has_serial) return ReleaseOrder::acceptable;
    if (!offered.has_serial) return ReleaseOrder::unnumbered;
    if (offered.serial < installed.serial) return ReleaseOrder::older;
    if (offered.serial == installed.serial && offered.manifest_sha256 != installed.manifest_sha256)
        return ReleaseOrder::same_serial_other_bytes;
    return ReleaseOrder::acceptable;
}

std::string older_release_line(const ReleaseMark& installed, const ReleaseMark& offered)
{
    const std::string offered_serial = offered.has_serial ? std::to_string(offered.serial) : "none";
    return "the server offered an older release (serial " + offered_serial + ", installed " +
           std::to_string(installed.serial) + ") -- kept the installed game";
}

bool raise_release_mark(InstallState& state, const ReleaseMark& accepted)
{
    const bool newer = !state.release || (accepted.has_serial && (!state.release->has_serial ||
                                                                  accepted.serial > state.release->serial));
    if (newer) state.release = accepted;
    return newer;
}

void lower_release_mark(InstallState& state, const ReleaseMark& mark) { state.release = mark; }

void record_release(InstallState& state, const Manifest& manifest, const ReleaseMark& accepted)
{
    state.version = manifest.version;
    state.run_exe = manifest.run_exe;
    state.run_args = manifest.run_args;
    raise_release_mark(state, accepted);
}
