#include "browser/OrvantaDragMimeData.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>

const QString OrvantaDragMimeData::internalURLsType = QStringLiteral("io.halvorn.orvanta.internal-urls");
const QString OrvantaDragMimeData::uriListType = QStringLiteral("text/uri-list");

OrvantaDragMimeData::OrvantaDragMimeData(QList<FileItem> items) : m_items(std::move(items)) {
    QList<URL> locations;
    locations.reserve(m_items.size());
    for (const FileItem& item : m_items)
        locations.append(item.path());
    writeInternalURLs(locations, *this);
}

void OrvantaDragMimeData::setExternalURLSource(ExternalURLSource source) {
    m_source = std::move(source);
    m_answered.reset();
}

QStringList OrvantaDragMimeData::formats() const {
    return {internalURLsType, uriListType};
}

bool OrvantaDragMimeData::hasFormat(const QString& mimeType) const {
    return mimeType == internalURLsType || mimeType == uriListType;
}

QList<QUrl> OrvantaDragMimeData::externalURLs() const {
    ++m_externalRequests;
    // Asked again and again by a receiver (once per target it hovers, once for the drop), the
    // answer must stay one answer: production runs once per drag.
    if (m_answered)
        return *m_answered;
    QList<QUrl> urls;
    if (m_source) {
        // The source may wait in a local loop, in which the drag, and this data with it, can be
        // deleted: the call runs on a copy, and nothing of this object is touched once it is gone.
        const QPointer<const OrvantaDragMimeData> alive(this);
        const ExternalURLSource source = m_source;
        urls = source();
        if (!alive)
            return urls;
    } else {
        for (const FileItem& item : m_items) {
            if (item.path().isFileURL())
                urls.append(toQUrl(item.path()));
        }
    }
    m_answered = urls;
    return urls;
}

QVariant OrvantaDragMimeData::retrieveData(const QString& mimeType, QMetaType type) const {
    if (mimeType != uriListType)
        return QMimeData::retrieveData(mimeType, type);
    const QList<QUrl> urls = externalURLs();
    if (type.id() == QMetaType::QVariantList || type.id() == QMetaType::QUrl) {
        QVariantList list;
        for (const QUrl& url : urls)
            list.append(url);
        return list;
    }
    QByteArray text;
    for (const QUrl& url : urls)
        text += url.toEncoded() + "\r\n";
    return text;
}

void writeInternalURLs(const QList<URL>& urls, QMimeData& data) {
    QJsonArray array;
    for (const URL& url : urls)
        array.append(url.absoluteString());
    data.setData(OrvantaDragMimeData::internalURLsType, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QList<URL> readInternalURLs(const QMimeData* data) {
    if (!data || !data->hasFormat(OrvantaDragMimeData::internalURLsType))
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(data->data(OrvantaDragMimeData::internalURLsType));
    if (!document.isArray())
        return {};
    const QJsonArray array = document.array();
    for (const QJsonValue& value : array) {
        // One element that is not a string makes the whole array unreadable, as a decoder of an
        // array of strings would see it.
        if (!value.isString())
            return {};
    }
    QList<URL> urls;
    for (const QJsonValue& value : array) {
        if (const std::optional<URL> url = URL::fromString(value.toString()))
            urls.append(*url);
    }
    return urls;
}

QList<URL> readFileURLs(const QMimeData* data) {
    if (!data)
        return {};
    if (data->hasFormat(OrvantaDragMimeData::internalURLsType))
        return readInternalURLs(data);
    QList<URL> urls;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            urls.append(URL::fileURL(url.toLocalFile()));
    }
    return urls;
}

QUrl toQUrl(const URL& url) {
    return QUrl::fromEncoded(url.absoluteString().toUtf8());
}

QList<URL> readOutsideFileURLs(const QMimeData* data) {
    if (!data || data->hasFormat(OrvantaDragMimeData::internalURLsType))
        return {};
    return readFileURLs(data);
}
