#include "transfer/DeviceFolderListing.h"

#include "device/AFCBridge.h"
#include "models/TransferError.h"
#include "services/FileItemBuilder.h"
#include "transfer/TransferPlacement.h"

async::Task<FileListing> DeviceFolderListing::listAll(std::shared_ptr<TransferPlacement> placement,
                                                      URL folder) {
    const std::shared_ptr<AFCBridge> bridge = placement->bridge();
    if (!bridge)
        throw TransferError::ioError(QStringLiteral("AFC bridge not available"));
    const AFCComponents components =
        TransferPlacement::deviceComponents(folder, QStringLiteral("Invalid afc URL: "));
    async::Task<void> session = placement->openSession(components);
    co_await session;
    async::Task<AFCDirectoryListing> reading =
        bridge->listDirectoryDetailed(components.udid, components.devicePath, components.bundleID);
    AFCDirectoryListing read = co_await reading;
    async::Task<FileListing> building = placement->executor().run([read = std::move(read), components] {
        FileItemBuilder builder;
        FileListing listing;
        listing.items = builder.deviceListing(read.entries, components, true);
        listing.skippedNames = read.skippedNames;
        listing.skipReasons = read.skipReasons;
        return listing;
    });
    co_return co_await building;
}
