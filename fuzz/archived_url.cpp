// An archived location: the data the settings keep for a chosen folder (where copies go by
// default, where the automatic import goes). Any data can sit under such a key.

#include "FuzzSupport.h"
#include "platform/ArchivedURL.h"
#include "platform/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzzBytes(data, size);
    // Any property list under the key is read as a value first.
    if (const std::optional<QVariant> value = PropertyList::fromData(bytes))
        (void)PropertyList::toBinary(*value);

    const std::optional<URL> url = unarchiveURL(bytes);
    if (!url)
        return 0;
    fuzzCheck(URL::fromString(url->absoluteString()) == url, "an archived location parses back to itself");
    fuzzCheck(unarchiveURL(archiveURL(*url)) == url, "an archived location archives again to itself");
    return 0;
}
