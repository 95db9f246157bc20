#include "tools/publish/key_pair.h"

#include "tools/publish/openssl_owners.h"
#include "tools/publish/staged_file.h"

#include <openssl/pem.h>

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>

namespace {

bool pem_text(EVP_PKEY* key, bool private_part, std::string& text)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) return false;
    int ok = private_part
                 ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
                 : PEM_write_bio_PUBKEY(bio.get(), key);
    if (ok != 1) return false;
    char* data = nullptr;
    long size = BIO_get_mem_data(bio.get(), &data);
    if (size <= 0) return false;
    text.assign(data, static_cast<size_t>(size));
    return true;
}

bool make_folder(const std::string& folder, std::string& error)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
        error = "cannot create the folder " + folder;
        return false;
    }
    return true;
}

}  // namespace

bool generate_key_pair(const std::string& folder, std::string& error)
{
    const std::string private_path = folder + "/private.pem";
    const std::string public_path = folder + "/public.pem";
    struct stat st {};
    if (::lstat(private_path.c_str(), &st) == 0) {
        error = private_path + " already exists -- not replacing it";
        return false;
    }
    if (!make_folder(folder, error)) return false;

    PkeyPtr key(EVP_EC_gen("P-256"));
    std::string private_pem, public_pem;
    if (!key || !pem_text(key.get(), true, private_pem) || !pem_text(key.get(), false, public_pem)) {
        error = "generating a P-256 key failed";
        return false;
    }

    // The private key is 0600 from its first byte and appears under its name
    // only complete; linking (not renaming) keeps a key made meanwhile by
    // someone else.
    StagedFile private_file;
    if (!private_file.open(private_path, 0600, error) ||
        !private_file.write(private_pem.data(), private_pem.size(), error) ||
        !private_file.commit_new(error))
        return false;
    if (!write_file_replacing(public_path, public_pem, error)) {
        ::unlink(private_path.c_str());   // a private key without its public half is of no use
        return false;
    }
    return sync_folder(folder, error);
}
