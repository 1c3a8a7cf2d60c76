#pragma once

#include <QProcess>
#include <QString>

#include <memory>
#include <vector>

// The files of the demo devices, made on first start: a camera roll of painted photos (JPEG and
// HEIC), short clips and one long video, a few folders, the documents of the demo apps, a
// recording of the companion recorder app, and a few files on the locked second device. They go
// into a folder of their own, never into the source tree, and are kept for later starts so that
// what a developer copied onto the demo devices is still there.
class DemoContent {
public:
    // $XDG_RUNTIME_DIR/orvanta-demo, or /tmp/orvanta-demo-<uid> where there is no runtime folder.
    static QString defaultFolder();

    // Makes the folder (private to this user) and fills it unless an earlier start finished that.
    // False with a message when the folder cannot be made or trusted; a missing ffmpeg is no
    // failure, the clips are left out with a note on stderr.
    static bool prepare(const QString& folder, QString& error);

private:
    // A video ffmpeg is making; dated once it is done, removed when it failed.
    struct Clip {
        QString path;
        int day;
        std::unique_ptr<QProcess> process;
    };
    using Clips = std::vector<Clip>;

    static bool makePrivateFolder(const QString& folder, QString& error);
    static bool writePhotos(const QString& folder, QString& error);
    // Starts every ffmpeg at once; a missing ffmpeg leaves the videos out with a note on stderr.
    static Clips startClips(const QString& folder);
    static void finishClips(Clips& clips);
    static bool writeDocuments(const QString& folder, QString& error);
};
