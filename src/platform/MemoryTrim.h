#pragma once

// Hands the allocator's free memory back to the system a moment after big data went. glibc keeps
// freed memory for reuse rather than giving it back: a folder of 100,000 items listed again
// leaves the previous listing's room held, once every view has let go of it. Requests made close
// together end in one trim, on a thread of its own, since the trim walks the whole heap (tens of
// milliseconds after a camera roll's copy).
namespace MemoryTrim {

// Main thread only. The trim runs once no request came for a short while.
void request();

} // namespace MemoryTrim
