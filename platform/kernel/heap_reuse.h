// How the C library's heap treats the large blocks the server allocates.
#pragma once

// Every request allocates and frees pictures of tens of megabytes. By default
// glibc maps each one afresh and hands it back on free, so the next request
// faults every page in again; kept in the heap they are reused. The peak stays
// where it was: only memory already in use once is kept.
//
// The decoder's threads share one arena. With an arena each, a picture freed
// in one thread's arena stays there while another thread asks its own for the
// next: a decoder walking the eight positions of a 4K file held some 25 MB
// more at its peak.
//
// Call before the first thread starts.
void KeepPictureMemoryForReuse();
