#pragma once

#include <QString>

// A file system of its own, on an image file mounted through a loop device, for what only a real
// disk shows: a power cut (the file system stops at once, without writing what its log holds in
// memory), a disk that folds case. Needs root and the mkfs tools; where either is missing the
// disk is not mounted and failure() says why, for the test to skip with.
class LoopDisk {
public:
    enum class Kind { ext4, exfat };

    // Makes the image beside the mount point and mounts it there.
    LoopDisk(QString folder, Kind kind, int megabytes = 64);
    ~LoopDisk();
    LoopDisk(const LoopDisk&) = delete;
    LoopDisk& operator=(const LoopDisk&) = delete;

    bool isMounted() const { return m_mounted; }
    QString failure() const { return m_failure; }
    // The mounted file system's root.
    QString path() const { return m_mountPoint; }

    // The power goes: the file system is shut down without flushing its log, so that only what
    // was made durable is there when the image is mounted again (as it is before this returns).
    // False when any step failed (failure() says which).
    bool cutPower();
    bool unmount();
    bool mount();
    // The system forgets all it held of the disk in memory, as it may under memory pressure during
    // a long copy: the disk is unmounted and mounted again through the same loop device, so that
    // its device number stays. An exFAT driver then numbers its files afresh. False when any step
    // failed.
    bool remount();
    // Another disk goes in the same slot: the mounted file system is unmounted and set aside, and
    // the same loop device gets the other disk of a pair (the first time a new, empty file system
    // of the same kind), mounted at the same place. The device number of what is mounted there
    // stays the same, the file system's own id (statfs) does not, as with two disks taking turns
    // in one drive. Called again, it brings the first disk back. False when any step failed.
    bool swapDisk();

private:
    bool run(const QString& program, const QStringList& arguments);
    // Keeps the loop device the image is mounted through, so that unmounting does not free it.
    bool holdLoopDevice();
    bool copyBytes(const QString& from, const QString& to);

    QString m_image;
    QString m_mountPoint;
    Kind m_kind;
    bool m_mounted = false;
    QString m_failure;
    // The loop device held for swapDisk(); empty while mount(8) attaches one of its own.
    QString m_loopDevice;
    // What swapDisk() keeps of the disk that is not in the slot.
    QString m_otherDisk;
};
