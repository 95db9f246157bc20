#include "tools/publish/manifest_signature.h"

#include "tools/publish/staged_file.h"

#include <openssl/pem.h>

#include <cstring>
#include <vector>

namespace {

bool is_p256(EVP_PKEY* key)
{
    char group[64] = {};
    size_t length = 0;
    return EVP_PKEY_get_base_id(key) == EVP_PKEY_EC &&
           EVP_PKEY_get_group_name(key, group, sizeof group, &length) == 1 &&
           std::strcmp(group, "prime256v1") == 0;
}

int refuse_passphrase(char*, int, int, void*) { return -1; }

bool load_key(const std::string& pem_path, bool is_private, PkeyPtr& key, std::string& error)
{
    std::string pem;
    if (!read_file(pem_path, pem, error)) return false;
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) {
        error = "out of memory reading " + pem_path;
        return false;
    }
    // No passphrase callback that could stop and ask on the terminal: an
    // encrypted key simply does not read.
    key.reset(is_private ? PEM_read_bio_PrivateKey(bio.get(), nullptr, refuse_passphrase, nullptr)
                         : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key) {
        error = pem_path + (is_private ? " holds no readable private key (unencrypted PEM)"
                                       : " holds no readable public key (PEM \"PUBLIC KEY\")");
        return false;
    }
    if (!is_p256(key.get())) {
        error = pem_path + " is not a P-256 (prime256v1) EC key";
        key.reset();
        return false;
    }
    return true;
}

}  // namespace

bool load_private_key(const std::string& pem_path, PkeyPtr& key, std::string& error)
{
    return load_key(pem_path, true, key, error);
}

bool load_public_key(const std::string& pem_path, PkeyPtr& key, std::string& error)
{
    return load_key(pem_path, false, key, error);
}

bool sign_manifest(EVP_PKEY* key, const std::string& manifest_bytes, std::string& signature,
                   std::string& error)
{
    error = "signing the manifest failed";
    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) != 1) return false;
    auto data = reinterpret_cast<const unsigned char*>(manifest_bytes.data());
    size_t der_size = 0;
    if (EVP_DigestSign(ctx.get(), nullptr, &der_size, data, manifest_bytes.size()) != 1) return false;
    std::vector<unsigned char> der(der_size);
    if (EVP_DigestSign(ctx.get(), der.data(), &der_size, data, manifest_bytes.size()) != 1)
        return false;

    // OpenSSL writes DER (SEQUENCE of two INTEGERs); the launcher takes r||s.
    const unsigned char* cursor = der.data();
    EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der_size)));
    if (!sig) return false;
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    ECDSA_SIG_get0(sig.get(), &r, &s);
    unsigned char raw[SIGNATURE_SIZE];
    if (BN_bn2binpad(r, raw, 32) != 32 || BN_bn2binpad(s, raw + 32, 32) != 32) return false;
    signature.assign(reinterpret_cast<const char*>(raw), SIGNATURE_SIZE);
    error.clear();
    return true;
}

bool verify_manifest_signature(EVP_PKEY* key, const std::string& manifest_bytes,
                               const std::string& signature)
{
    if (signature.size() != SIGNATURE_SIZE) return false;
    auto raw = reinterpret_cast<const unsigned char*>(signature.data());
    BignumPtr r(BN_bin2bn(raw, 32, nullptr));
    BignumPtr s(BN_bin2bn(raw + 32, 32, nullptr));
    EcdsaSigPtr sig(ECDSA_SIG_new());
    if (!r || !s || !sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return false;
    r.release();   // owned by sig now
    s.release();

    unsigned char* der = nullptr;
    int der_size = i2d_ECDSA_SIG(sig.get(), &der);
    if (der_size <= 0) return false;
    OpensslBytesPtr der_owner(der);

    MdCtxPtr ctx(EVP_MD_CTX_new());
    return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) == 1 &&
           EVP_DigestVerify(ctx.get(), der, static_cast<size_t>(der_size),
                            reinterpret_cast<const unsigned char*>(manifest_bytes.data()),
                            manifest_bytes.size()) == 1;
}
