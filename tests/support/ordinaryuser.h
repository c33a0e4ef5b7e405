#pragma once
// Root may open and write any file; the tests that check refused access drop to the
// file-system identity of an ordinary user.

#include <sys/fsuid.h>
#include <sys/types.h>
#include <unistd.h>

namespace tagora::test {

constexpr uid_t kNobody = 65534;

// With the file-system identity of "nobody" the system refuses access as it would for an
// ordinary user. Affects the calling thread only, and is undone at the end of the scope.
class ActAsOrdinaryUser
{
public:
    ActAsOrdinaryUser() : m_root(::geteuid() == 0)
    {
        if (m_root)
            ::setfsuid(kNobody);
    }
    ~ActAsOrdinaryUser()
    {
        if (m_root)
            ::setfsuid(0);
    }
    ActAsOrdinaryUser(const ActAsOrdinaryUser&) = delete;
    ActAsOrdinaryUser& operator=(const ActAsOrdinaryUser&) = delete;

private:
    bool m_root;
};

} // namespace tagora::test
