#include "models/JsonObjectReader.h"

#include "models/JsonDecodingError.h"

JsonObjectReader::JsonObjectReader(const QJsonValue& value, const QString& what) : m_what(what) {
    if (!value.isObject())
        throw JsonDecodingError(QStringLiteral("%1 is not a JSON object").arg(what));
    m_object = value.toObject();
}

QJsonValue JsonObjectReader::required(const QString& key) const {
    const auto found = m_object.constFind(key);
    if (found == m_object.constEnd())
        throw JsonDecodingError(QStringLiteral("%1 lacks the key \"%2\"").arg(m_what, key));
    return *found;
}

void JsonObjectReader::fail(const QString& key, const char* expected) const {
    throw JsonDecodingError(
        QStringLiteral("%1 has no %2 under \"%3\"").arg(m_what, QString::fromLatin1(expected), key));
}

bool JsonObjectReader::isAbsent(const QString& key) const {
    // A missing key and a null both mean an absent optional.
    const QJsonValue value = m_object.value(key);
    return value.isUndefined() || value.isNull();
}

QJsonValue JsonObjectReader::value(const QString& key) const {
    return required(key);
}

QString JsonObjectReader::string(const QString& key) const {
    const QJsonValue value = required(key);
    if (!value.isString())
        fail(key, "string");
    return value.toString();
}

std::optional<QString> JsonObjectReader::optionalString(const QString& key) const {
    if (isAbsent(key))
        return std::nullopt;
    return string(key);
}

bool JsonObjectReader::boolean(const QString& key) const {
    const QJsonValue value = required(key);
    if (!value.isBool())
        fail(key, "boolean");
    return value.toBool();
}

qint64 JsonObjectReader::integer(const QString& key) const {
    const QJsonValue value = required(key);
    // toInteger() falls back to its argument for anything that is not a whole qint64, so two
    // different fallbacks agree only for a real integer.
    if (!value.isDouble() || value.toInteger(0) != value.toInteger(1))
        fail(key, "integer");
    return value.toInteger();
}

quint64 JsonObjectReader::unsignedInteger(const QString& key) const {
    const qint64 number = integer(key);
    if (number < 0)
        fail(key, "unsigned integer");
    return static_cast<quint64>(number);
}

double JsonObjectReader::number(const QString& key) const {
    const QJsonValue value = required(key);
    if (!value.isDouble())
        fail(key, "number");
    return value.toDouble();
}

std::optional<double> JsonObjectReader::optionalNumber(const QString& key) const {
    if (isAbsent(key))
        return std::nullopt;
    return number(key);
}

QJsonArray JsonObjectReader::array(const QString& key) const {
    const QJsonValue value = required(key);
    if (!value.isArray())
        fail(key, "array");
    return value.toArray();
}
