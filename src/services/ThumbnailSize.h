#pragma once

#include <QImage>

#include <algorithm>

// The image scaled down (never up) so that its longer side is at most maxPixels; every decoder
// ends with it, so a thumbnail's size never depends on which decoder made it.
inline QImage boundedThumbnail(QImage image, int maxPixels) {
    if (image.isNull() || std::max(image.width(), image.height()) <= maxPixels)
        return image;
    return image.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}
