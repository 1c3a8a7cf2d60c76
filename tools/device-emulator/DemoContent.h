#pragma once

#include <QString>

// The files of the demo device, made on first start: a camera roll of painted photos and short
// clips, a few folders, and the documents of the demo apps. They go into a folder of their own,
// never into the source tree, and are kept for later starts so that what a developer copied onto
// the demo device is still there.
class DemoContent {
public:
    // $XDG_RUNTIME_DIR/orvanta-demo, or /tmp/orvanta-demo-<uid> where there is no runtime folder.
    static QString defaultFolder();

    // Makes the folder (private to this user) and fills it unless an earlier start finished that.
    // False with a message when the folder cannot be made or trusted; a missing ffmpeg is no
    // failure, the clips are left out with a note on stderr.
    static bool prepare(const QString& folder, QString& error);

private:
    static bool makePrivateFolder(const QString& folder, QString& error);
    static bool writePhotos(const QString& cameraRoll, QString& error);
    static void writeClips(const QString& cameraRoll);
    static bool writeDocuments(const QString& folder, QString& error);
};
