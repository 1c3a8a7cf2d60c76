#pragma once

#include "platform/Error.h"

#include <QString>

// Stored JSON that does not have the shape a record needs: a missing key, a value of the wrong
// type, a name that is no case of an enumeration.
class JsonDecodingError : public Error {
public:
    explicit JsonDecodingError(QString reason) : m_reason(std::move(reason)) {}

    QString description() const override { return m_reason; }

private:
    QString m_reason;
};
