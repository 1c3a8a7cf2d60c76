#pragma once

#include "models/FileItem.h"
#include "platform/URL.h"

#include <QList>
#include <QMimeData>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// What a drag of rows carries. In-process drops read the internal type, the dragged items'
// locations in row order; other programs read "text/uri-list", which for device items only
// exists once their copies have been produced, so it is answered lazily through a source that
// the drag's starter installs (and asked at most once per drag). Only Qt::CopyAction is offered
// to the outside: a file manager must never move a user's file out of its folder.
class OrvantaDragMimeData : public QMimeData {
    Q_OBJECT
public:
    static const QString internalURLsType;
    static const QString uriListType;

    // Produces the URLs an outside receiver gets. Plain and blocking on purpose: it runs inside
    // the platform's request for the data.
    using ExternalURLSource = std::function<QList<QUrl>()>;

    explicit OrvantaDragMimeData(QList<FileItem> items);

    const QList<FileItem>& items() const { return m_items; }
    // Without a source, computer items answer their own file URLs and the others are left out.
    void setExternalURLSource(ExternalURLSource source);
    // How often the outside form was asked for: an in-process drop must leave this at zero.
    int externalURLRequests() const { return m_externalRequests; }

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    QList<QUrl> externalURLs() const;

    QList<FileItem> m_items;
    ExternalURLSource m_source;
    mutable int m_externalRequests = 0;
    mutable std::optional<QList<QUrl>> m_answered;
};

// Writes the locations, in order, as a JSON array of their absolute strings under the internal
// type, beside whatever the data holds already.
void writeInternalURLs(const QList<URL>& urls, QMimeData& data);
// The locations of the internal type; strings that are no URL are skipped, and an absent type or
// data that is not a JSON array of strings gives none.
QList<URL> readInternalURLs(const QMimeData* data);
// The locations a drop on rows brings. Data that carries the internal type is ours and is read
// through it alone (even when it holds nothing usable): its "text/uri-list" would start copying
// device items out. Anything else gives its local file URLs.
QList<URL> readFileURLs(const QMimeData* data);
// A computer file as the outside world names it.
QUrl toQUrl(const URL& url);
// The file URLs a drop on a view's empty area brings: only other programs' files count there.
// Our own drags give none, and their "text/uri-list" is never asked for.
QList<URL> readOutsideFileURLs(const QMimeData* data);
