#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// Reads the fields of one JSON object strictly: a required key that is missing or holds a value
// of the wrong type throws JsonDecodingError naming the key. An optional key may be missing or
// null; any other wrong type still throws. Unknown keys are ignored.
class JsonObjectReader {
public:
    // Throws when the value is not an object; `what` names it in the error text.
    JsonObjectReader(const QJsonValue& value, const QString& what);

    QString string(const QString& key) const;
    std::optional<QString> optionalString(const QString& key) const;
    bool boolean(const QString& key) const;
    // A whole number that fits; fractions and out-of-range values are type errors.
    qint64 integer(const QString& key) const;
    quint64 unsignedInteger(const QString& key) const;
    double number(const QString& key) const;
    std::optional<double> optionalNumber(const QString& key) const;
    QJsonArray array(const QString& key) const;
    QJsonValue value(const QString& key) const;

private:
    QJsonValue required(const QString& key) const;
    bool isAbsent(const QString& key) const;
    [[noreturn]] void fail(const QString& key, const char* expected) const;

    QJsonObject m_object;
    QString m_what;
};
