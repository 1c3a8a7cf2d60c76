#pragma once

#include <QImage>
#include <QString>

// One frame of a video as a thumbnail, through libffmpegthumbnailer, on the calling thread: the
// frame at one second (a first frame is often black), turned as the video's display matrix says,
// scaled to fit maxPixels square.
class VideoFrameThumbnailer {
public:
    struct Result {
        QImage image;
        // Why there is no image: the library's own text.
        QString error;
    };

    static Result frame(const QString& path, int maxPixels);

    VideoFrameThumbnailer() = delete;
};
