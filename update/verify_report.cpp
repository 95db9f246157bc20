#include "update/verify_report.h"

FileDamage classify_stale_file(const ManifestFile& file, const DiskFacts& disk,
                               const InstalledFile* record, const std::string& digest)
{
    if (is_cache_path(file.path)) return FileDamage::None;
    if (!disk.present) return FileDamage::Missing;
    if (!record || record->hash == file.hash) return FileDamage::Damaged;
    const bool recorded_bytes = disk.size == record->size && (digest.empty() || digest == record->hash);
    return recorded_bytes ? FileDamage::None : FileDamage::Damaged;
}

std::vector<std::string> verify_summary_lines(size_t checked,
                                              const std::vector<VerifyFinding>& findings)
{
    std::vector<const VerifyFinding*> damaged;
    for (const VerifyFinding& finding : findings)
        if (finding.damage != FileDamage::None) damaged.push_back(&finding);
    if (damaged.empty()) return {"verify: all " + std::to_string(checked) + " files intact"};

    std::vector<std::string> lines;
    lines.push_back("verify: " + std::to_string(checked) + " files checked, " +
                    std::to_string(damaged.size()) + " damaged or missing");
    for (size_t i = 0; i < damaged.size() && i < VERIFY_LISTED_PATHS; ++i)
        lines.push_back(std::string(damaged[i]->damage == FileDamage::Missing ? "verify: missing "
                                                                              : "verify: damaged ") +
                        damaged[i]->path);
    if (damaged.size() > VERIFY_LISTED_PATHS)
        lines.push_back("verify: and " + std::to_string(damaged.size() - VERIFY_LISTED_PATHS) +
                        " more");
    return lines;
}
