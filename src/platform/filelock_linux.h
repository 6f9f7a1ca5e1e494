#pragma once

// The one lock probe of the Linux platform files, for the exclusive open and IsFileLockedByOther.
namespace vantrel::platform {

// Whether another holder locks the regular file open on fd: a flock (tried with LOCK_EX|LOCK_NB,
// and kept when keepFlock is set) or a classic POSIX or OFD record lock (F_OFD_GETLK, which sees
// both). The kinds do not see each other on a local file system, so both are asked. A probe that
// fails counts as locked, like a file that cannot be opened exclusively. Only flock and OFD calls
// are used, so our own classic POSIX locks are never dropped by the probe itself.
bool IsLockedByOther(int fd, bool keepFlock);

} // namespace vantrel::platform
