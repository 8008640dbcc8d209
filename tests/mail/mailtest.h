// Helpers shared by the mail tests: files read back, waiting for what another
// thread or process does, and the error entry that carries a Simple MAPI text.
#ifndef ZANTH_TESTS_MAILTEST_H
#define ZANTH_TESTS_MAILTEST_H

#include <corewu/errors.h>
#include <zanth/mail.h>
#include <zanth/messages.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

namespace mailtest {

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits (at most `seconds`) until `ready` holds.
inline bool WaitFor(const std::function<bool()>& ready, int seconds = 30)
{
    for (int i = 0; i < seconds * 100; ++i) {
        if (ready()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ready();
}

// The error entry GeneralMessages 30 with the text of a Simple MAPI result, as the
// error stack shows it.
inline std::string MailSystemEntry(ULONG code, const TString& detail)
{
    TErrorEntry entry;
    entry.catalog = GeneralMessages;
    entry.message = 30;
    entry.a1 = GetMailErrorText(code, detail);
    return entry.Text().AsAnsi();
}

} // namespace mailtest

#endif // ZANTH_TESTS_MAILTEST_H
