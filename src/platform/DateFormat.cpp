#include "platform/DateFormat.h"

#include <QLocale>
#include <QTimeZone>

namespace {

const QString unknownDate = QStringLiteral("--");

// Qt's "a" gives "pm"; "AP" gives the platform's upper case.
QString format(const Date& date, const QString& pattern) {
    if (DateFormat::isUnknown(date))
        return unknownDate;
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(date.toQDateTime().toLocalTime(), pattern);
}

} // namespace

bool DateFormat::isUnknown(const Date& date) {
    return date <= Date::distantPast();
}

QString DateFormat::mediumShort(const Date& date) {
    return format(date, QStringLiteral("MMM d, yyyy 'at' h:mm") + QChar(0x202F) + QStringLiteral("AP"));
}

QString DateFormat::shortShort(const Date& date) {
    return format(date, QStringLiteral("M/d/yy, h:mm") + QChar(0x202F) + QStringLiteral("AP"));
}

QString DateFormat::dayFolder(const QDate& day) {
    return day.toString(u"yyyy-MM-dd");
}
