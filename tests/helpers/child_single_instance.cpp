// Claims a name with ZCSingleInstance::CheckSingleInstance and prints "claimed",
// or "refused" and the error text; with a second argument it then waits until
// standard input ends, to hold the claim meanwhile.
#include <zanth/tools.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        return 2;
    }
    try {
        ZCSingleInstance::CheckSingleInstance(TString::FromAnsi(argv[1]));
    } catch (TException&) {
        DecrementPendingCount();
        std::printf("refused %s\n", GetErrorText().AsAnsi().c_str());
        ClearError();
        return 1;
    }
    std::printf("claimed\n");
    std::fflush(stdout);
    if (argc > 2) {
        while (std::getchar() != EOF) {
        }
    }
    return 0;
}
