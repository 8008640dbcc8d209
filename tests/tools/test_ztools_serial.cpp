// ztools serial: map and list ports, and the small terminal of `serial open`
// between a pseudo-terminal peer and the program's standard input and output.
#include "serialpeer.h"

#include <string>

using namespace testsupport;

namespace {

std::string Ztools()
{
    return HelperPath("ztools");
}

TEST(ZtoolsSerial, MapAndListShowWherePortsLead)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Valid());
    ChildResult map = RunChild({Ztools(), "serial", "map", "5", pty.Device()});
    EXPECT_EQ(map.status, 0);
    EXPECT_EQ(map.output, "COM5 -> " + pty.Device() + "\n");
    ChildResult list = RunChild({Ztools(), "serial", "list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.output.find("COM5  " + pty.Device() + "  usable"), std::string::npos)
        << list.output;
    EXPECT_NE(list.output.find("COM6  -  not usable"), std::string::npos) << list.output;
}

TEST(ZtoolsSerial, OpenCarriesBothWaysAndClosesAtTheEndOfInput)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Valid());
    MapPort(5, pty.Device());
    Spawned terminal({Ztools(), "serial", "open", "5", "--baud", "57600", "--parity", "even"});
    ASSERT_TRUE(terminal.Running());
    ASSERT_TRUE(terminal.Write("typed line\n"));
    EXPECT_EQ(pty.ReadExactly(11), "typed line\n");
    ASSERT_TRUE(pty.Send("from the peer\n"));
    EXPECT_EQ(terminal.Line(), "from the peer");
    EXPECT_EQ(terminal.Finish(), 0);
    // The port is free again.
    ZANTH::ZCSerialCom com;
    EXPECT_EQ(com.IsValid(5), 1u);
}

TEST(ZtoolsSerial, BadSettingsAreRefusedBeforeThePortOpens)
{
    ChildResult run = RunChild({Ztools(), "serial", "open", "5", "--bits", "9"});
    EXPECT_NE(run.status, 0);
}

} // namespace
