// The single-instance guard: ZCSingleInstance and FindPrevInstance.
#ifndef ZANTH_SINGLEINSTANCE_H
#define ZANTH_SINGLEINSTANCE_H

#include <zanth/config.h>

// Claims a name for the running program across the user's session, so that a
// second start can be refused. The claim is a named mutex that stays open until
// the process ends. The class has no state; copies are interchangeable.
// Thread rules: any thread; the claim belongs to the whole process.
class ZANTH_TOOLS_API ZCSingleInstance
{
public:
    ZCSingleInstance() = default;
    ZCSingleInstance(const ZCSingleInstance&) {}
    ZCSingleInstance& operator=(const ZCSingleInstance&) { return *this; }
    virtual ~ZCSingleInstance() {}

    // Claims `name` (backslashes count as slashes, so "Company\App" and
    // "Company/App" are one name). Raises message 0 of "ZCSingleInstance_msg", with
    // the name as given and the program's file name, when the name is already
    // claimed, by another process or by an earlier call of this one. A null or
    // empty name raises a free-text error. Other failures are not reported.
    static void CheckSingleInstance(const WCHAR* name);
};

// Raises GeneralMessages 1 when the title of a top-level window contains `title`
// (letters a to z compared without case; at most 1023 characters of each title);
// returns null when none does. Without a window system there are no windows.
ZANTH_TOOLS_API void* FindPrevInstance(const WCHAR* title);

#endif // ZANTH_SINGLEINSTANCE_H
