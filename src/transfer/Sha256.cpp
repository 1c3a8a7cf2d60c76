#include "transfer/Sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

void Sha256::Free::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

Sha256::Sha256() : m_context(EVP_MD_CTX_new()) {
    if (!m_context || EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 could not be started");
}

Sha256::~Sha256() = default;

void Sha256::update(const char* data, qsizetype size) {
    if (size > 0 && EVP_DigestUpdate(m_context.get(), data, size_t(size)) != 1)
        throw std::runtime_error("SHA-256 could not take more data");
}

QString Sha256::finalizeHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_context.get(), digest, &length) != 1 || length != 32)
        throw std::runtime_error("SHA-256 could not be finished");
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex());
}

QString Sha256::hexOf(const QByteArray& data) {
    Sha256 hash;
    hash.update(data);
    return hash.finalizeHex();
}
