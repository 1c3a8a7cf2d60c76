#include "transfer/TransferErrorMapping.h"

#include "device/AFCError.h"
#include "platform/Error.h"

#include <libimobiledevice/afc.h>

#include <QTest>

#include <cerrno>
#include <stdexcept>

Q_DECLARE_METATYPE(std::exception_ptr)

// A failure keeps its meaning in the transfer's record: decided by what the error says, never by
// where its case sits in an enumeration.
class tst_TransferErrorMapping : public QObject {
    Q_OBJECT

private slots:
    void maps_data() {
        QTest::addColumn<std::exception_ptr>("error");
        QTest::addColumn<TransferError>("expected");
        const auto error = [](auto e) {
            return std::make_exception_ptr(e);
        };
        const FileError missing(ENOENT, QStringLiteral("open"), QStringLiteral("/a"));
        const FileError busy(EBUSY, QStringLiteral("open"), QStringLiteral("/a"));
        const AFCError refused =
            AFCError::fromLibrary(AFCError::Case::writeFailed, "afc_file_write", AFC_E_PERM_DENIED);

        QTest::newRow("device gone") << error(AFCError::fromLibrary(AFCError::Case::fileReadFailed,
                                                                    "afc_file_read", AFC_E_MUX_ERROR))
                                     << TransferError::deviceDisconnected();
        QTest::newRow("device full") << error(AFCError::fromLibrary(AFCError::Case::writeFailed,
                                                                    "afc_file_write", AFC_E_NO_SPACE_LEFT))
                                     << TransferError::diskFull();
        QTest::newRow("device refuses, keeps its text")
            << error(refused) << TransferError::ioError(refused.description());
        QTest::newRow("computer full during a download")
            << error(AFCError::withPosixError(AFCError::Case::fileReadFailed, QStringLiteral("write error"),
                                              ENOSPC))
            << TransferError::diskFull();
        QTest::newRow("computer folder refused during a download")
            << error(AFCError::withPosixError(AFCError::Case::fileReadFailed, QStringLiteral("open"), EACCES))
            << TransferError::permissionDenied();
        QTest::newRow("missing file") << error(missing) << TransferError::fileNotFound(missing.description());
        QTest::newRow("other errno keeps the system's words")
            << error(busy) << TransferError::ioError(busy.description());
        QTest::newRow("anything else")
            << error(std::runtime_error("odd")) << TransferError::ioError(QStringLiteral("odd"));
    }

    void maps() {
        QFETCH(std::exception_ptr, error);
        QFETCH(TransferError, expected);
        QCOMPARE(TransferErrorMapping::fromException(error), expected);
    }
};

QTEST_GUILESS_MAIN(tst_TransferErrorMapping)
#include "tst_TransferErrorMapping.moc"
