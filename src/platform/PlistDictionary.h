#pragma once

#include <plist/plist.h>

#include <cstdlib>

// Calls visit(key, item) for each entry of a plist dictionary, in the library's order, until visit
// returns false; the key is UTF-8 and valid only during the call. The iterator and the key copies
// the library hands out are freed here, so no caller repeats that bookkeeping.
template <typename Visit> void forEachDictionaryEntry(plist_t dictionary, Visit visit) {
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(dictionary, &iter);
    for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(dictionary, iter, &key, &item);
        if (!key)
            break;
        const bool goOn = visit(static_cast<const char*>(key), item);
        std::free(key);
        if (!goOn)
            break;
    }
    std::free(iter);
}
