#include "support/testusers.h"

#include <cstdlib>

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

int shell(const QByteArray &command)
{
    const int status = std::system(command.constData());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::optional<gid_t> testGroup(const char *name)
{
    if (::geteuid() != 0)
        return std::nullopt;
    if (const group *g = ::getgrnam(name))
        return g->gr_gid;
    shell(QByteArray("groupadd ") + name + " 2>/dev/null");
    if (const group *g = ::getgrnam(name))
        return g->gr_gid;
    return std::nullopt;
}

std::optional<TestUser> testUser(const char *name, std::initializer_list<const char *> groups)
{
    if (::geteuid() != 0)
        return std::nullopt;
    if (!::getpwnam(name))
        shell(QByteArray("useradd --no-create-home --shell /usr/sbin/nologin --user-group ") +
              name + " 2>/dev/null");
    for (const char *group : groups) {
        if (!testGroup(group))
            return std::nullopt;
        shell(QByteArray("usermod -a -G ") + group + ' ' + name);
    }
    const passwd *pw = ::getpwnam(name);
    if (!pw)
        return std::nullopt;
    return TestUser{name, pw->pw_uid, pw->pw_gid};
}

int runAs(const TestUser &user, const std::function<int()> &body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::initgroups(user.name.constData(), user.gid) != 0 || ::setgid(user.gid) != 0 ||
            ::setuid(user.uid) != 0)
            ::_exit(120);
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace testsupport
