// How the C library's heap treats the large blocks the server allocates.
#pragma once

// Every request allocates and frees pictures of tens of megabytes. By default
// glibc maps each one afresh and hands it back on free, so the next request
// faults every page in again; kept in the heap they are reused. The peak stays
// where it was: only memory already in use once is kept.
void KeepPictureMemoryForReuse();
