#pragma once

#include <QCoreApplication>

// Delivers what is posted to the main loop, and what that delivery posts in turn, without
// waiting for anything. Ten rounds cover every chain of queued deliveries the tests build; a
// test never needs to sleep to see them.
inline void drainPostedEvents() {
    for (int i = 0; i < 10; ++i)
        QCoreApplication::sendPostedEvents();
}
