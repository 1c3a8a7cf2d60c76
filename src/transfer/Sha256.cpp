#include "transfer/Sha256.h"

#include "platform/LazyLibrary.h"

#include <openssl/evp.h>

#include <stdexcept>

#ifndef ORVANTA_LIBCRYPTO_SONAME
#error "the build names the digest library's file (ORVANTA_LIBCRYPTO_SONAME)"
#endif

namespace {

// libcrypto is opened by the first digest, not at start-up; its functions are taken by name with
// the header's own types, so a mismatch fails to compile.
struct Crypto {
    decltype(&EVP_MD_CTX_new) newContext = nullptr;
    decltype(&EVP_MD_CTX_free) freeContext = nullptr;
    decltype(&EVP_sha256) sha256 = nullptr;
    decltype(&EVP_DigestInit_ex) init = nullptr;
    decltype(&EVP_DigestUpdate) update = nullptr;
    decltype(&EVP_DigestFinal_ex) final = nullptr;
    QString error;
};

template <typename Function> void take(LazyLibrary& library, Function& function, const char* name, QString& error) {
    function = reinterpret_cast<Function>(library.symbol(name));
    if (!function && error.isEmpty())
        error = library.error().isEmpty() ? QStringLiteral("%1 missing").arg(QLatin1String(name)) : library.error();
}

const Crypto& crypto() {
    static const Crypto loaded = [] {
        static LazyLibrary library(ORVANTA_LIBCRYPTO_SONAME);
        Crypto c;
        take(library, c.newContext, "EVP_MD_CTX_new", c.error);
        take(library, c.freeContext, "EVP_MD_CTX_free", c.error);
        take(library, c.sha256, "EVP_sha256", c.error);
        take(library, c.init, "EVP_DigestInit_ex", c.error);
        take(library, c.update, "EVP_DigestUpdate", c.error);
        take(library, c.final, "EVP_DigestFinal_ex", c.error);
        return c;
    }();
    return loaded;
}

} // namespace

void Sha256::Free::operator()(evp_md_ctx_st* context) const {
    crypto().freeContext(context);
}

Sha256::Sha256() {
    const Crypto& c = crypto();
    if (!c.error.isEmpty())
        throw std::runtime_error("SHA-256 is unavailable: " + c.error.toStdString());
    m_context.reset(c.newContext());
    if (!m_context || c.init(m_context.get(), c.sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 could not be started");
}

Sha256::~Sha256() = default;

void Sha256::update(const char* data, qsizetype size) {
    if (size > 0 && crypto().update(m_context.get(), data, size_t(size)) != 1)
        throw std::runtime_error("SHA-256 could not take more data");
}

QString Sha256::finalizeHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (crypto().final(m_context.get(), digest, &length) != 1 || length != 32)
        throw std::runtime_error("SHA-256 could not be finished");
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex());
}

QString Sha256::hexOf(const QByteArray& data) {
    Sha256 hash;
    hash.update(data);
    return hash.finalizeHex();
}
