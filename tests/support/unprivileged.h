#pragma once

// Permission checks mean nothing to root: a test function that needs them
// runs again in a child of the same test program as an unprivileged user.
namespace Unprivileged
{
// As root: reruns the named test function of this program as user "nobody",
// records a failure unless it ran and passed there, and returns true (the
// caller then returns at once). As anyone else: returns false.
bool rerun(const char *function);
} // namespace Unprivileged
