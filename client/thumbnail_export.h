// Marks what the shared client library offers to programs. The library is
// built with every other symbol hidden, so that its internals can change
// without a new soname and never clash with a host program's own names.
#pragma once

#define THUMBNAIL_CLIENT_API __attribute__((visibility("default")))
