#pragma once
// Real users and groups for tests that run as root (as CI does): shared
// folders, another member's file, a colleague named in an ACL.

#include <QByteArray>

#include <functional>
#include <initializer_list>
#include <optional>

#include <sys/types.h>

namespace testsupport {

struct TestUser {
    QByteArray name;
    uid_t uid = 0;
    gid_t gid = 0;  // its own group
};

// Made on first use and left for later runs (useradd and groupadd are
// slow, and two test binaries may ask at once). Nothing without root.
std::optional<gid_t> testGroup(const char *name);
std::optional<TestUser> testUser(const char *name, std::initializer_list<const char *> groups = {});

// Runs `body` in a child process as `user`, with the user's groups; the
// child's exit status (128 + signal when it was killed).
int runAs(const TestUser &user, const std::function<int()> &body);

// Runs a command line through /bin/sh; its exit status.
int shell(const QByteArray &command);

}  // namespace testsupport
