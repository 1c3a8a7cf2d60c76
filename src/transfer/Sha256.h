#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

struct evp_md_ctx_st;

// An incremental SHA-256 over libcrypto's EVP interface, which uses the processor's SHA
// instructions where there are some (about ten times QCryptographicHash on our machines). Not
// thread-safe: feed one object from one job at a time.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const char* data, qsizetype size);
    void update(const QByteArray& data) { update(data.constData(), data.size()); }
    // The digest as 64 lowercase hexadecimal characters; the object is spent afterwards.
    QString finalizeHex();

    static QString hexOf(const QByteArray& data);

private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> m_context;
};
