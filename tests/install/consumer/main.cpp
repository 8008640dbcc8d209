// A program outside the project that uses the installed library.
#include <zanth/tools.h>

#include <cstdio>

int main()
{
    const TString text = GetCommonDlgErrorText(0xFFFF);
    const int rounded = ZANTH::ZCSInt64::DivRound32(7u, 2u);
    std::printf("%s / %d\n", text.AsAnsi().c_str(), rounded);
    return (!text.IsEmpty() && rounded == 4) ? 0 : 1;
}
