#pragma once
// Owners for the OpenSSL objects the publishing tool uses, so every object is
// freed on every path.
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>

template <auto Free>
struct OpensslFree {
    template <typename T>
    void operator()(T* p) const { Free(p); }
};

using PkeyPtr = std::unique_ptr<EVP_PKEY, OpensslFree<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpensslFree<EVP_PKEY_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpensslFree<EVP_MD_CTX_free>>;
using BioPtr = std::unique_ptr<BIO, OpensslFree<BIO_free_all>>;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, OpensslFree<ECDSA_SIG_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OpensslFree<BN_free>>;

// Buffers that OpenSSL allocates for its caller (i2d_* output).
inline void free_openssl_bytes(unsigned char* p) { OPENSSL_free(p); }
using OpensslBytesPtr = std::unique_ptr<unsigned char, OpensslFree<free_openssl_bytes>>;
