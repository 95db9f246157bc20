#include "tools/publish/key_records_file.h"

#include "tools/publish/manifest_signature.h"
#include "tools/publish/staged_file.h"

#include <openssl/core_names.h>
#include <openssl/params.h>

#include <filesystem>

namespace {

constexpr size_t POINT_BYTES = 1 + PUBLIC_KEY_BYTES;   // 04, X, Y

bool key_from_raw(const std::string& raw, PkeyPtr& key)
{
    if (raw.size() != PUBLIC_KEY_BYTES) return false;
    unsigned char point[POINT_BYTES];
    point[0] = 4;
    for (size_t i = 0; i < raw.size(); ++i) point[1 + i] = static_cast<unsigned char>(raw[i]);
    char group[] = "prime256v1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
                           OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
                           OSSL_PARAM_construct_end()};
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* made = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &made, EVP_PKEY_PUBLIC_KEY, params) != 1)
        return false;
    key.reset(made);
    return true;
}

}  // namespace

bool raw_public_key(EVP_PKEY* key, std::string& raw, std::string& error)
{
    unsigned char point[POINT_BYTES];
    size_t size = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point, sizeof point, &size) != 1 ||
        size != POINT_BYTES || point[0] != 4) {
        error = "cannot read the public point of a P-256 key";
        return false;
    }
    raw.assign(reinterpret_cast<const char*>(point) + 1, PUBLIC_KEY_BYTES);
    return true;
}

bool openssl_signature_check(const std::string& key, const std::string& bytes, const std::string& signature)
{
    PkeyPtr public_key;
    return key_from_raw(key, public_key) && verify_manifest_signature(public_key.get(), bytes, signature);
}

bool has_key_records(const std::string& folder)
{
    std::error_code ec;
    return std::filesystem::exists(folder + "/keys.json", ec);
}

bool read_key_records(const std::string& folder, RecordsFile& file, std::string& error)
{
    if (!read_file(folder + "/keys.json", file.text, error) || !read_file(folder + "/keys.sig", file.signature, error))
        return false;
    KeyRefusal refusal = KeyRefusal::none;
    if (!parse_key_records(file.text, file.records, &refusal)) {
        error = folder + "/keys.json is refused by the launcher's reader (" + key_refusal_name(refusal) + ")";
        return false;
    }
    return true;
}

bool write_key_records(const std::string& folder, const RecordsFile& file, std::string& error)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return write_file_replacing(folder + "/keys.json", file.text, error) &&
           write_file_replacing(folder + "/keys.sig", file.signature, error) && sync_folder(folder, error);
}

bool check_records_from_root(const RecordsFile& file, const std::string& root, RecordsVerdict& verdict,
                             std::string& error)
{
    verdict = verify_key_records(root, file.records, file.text, file.signature, openssl_signature_check);
    switch (verdict.refusal) {
    case KeyRefusal::none: return true;
    case KeyRefusal::unknown_root:
        error = "keys.json does not name the root " + key_name(root);
        break;
    case KeyRefusal::root_change:
        error = "root " + std::to_string(verdict.failed_root + 1) + " of keys.json is not signed by root " +
                std::to_string(verdict.failed_root) + " and by itself";
        break;
    default:
        error = "keys.sig does not verify keys.json with its newest root (root " +
                std::to_string(file.records.roots.size()) + ")";
    }
    error += std::string(" (") + key_refusal_name(verdict.refusal) + ")";
    return false;
}
