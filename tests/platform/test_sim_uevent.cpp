#include <gtest/gtest.h>

#include <sys/socket.h>

#include <string>

#include "platform/platform.h"
#include "platform/uevent.h"
#include "support/test_root.h"

using namespace zeltest;

TEST(SimUevents, InjectedEventsArriveOneDatagramEach)
{
    TempRoot root;
    EXPECT_FALSE(simUevents().inject("add@/x"));  // nobody listens yet
    int fd = platform::uevents().open();
    ASSERT_GE(fd, 0);
    const std::string add("add@/devices/usb1\0ACTION=add\0SUBSYSTEM=usb", 42);
    ASSERT_TRUE(simUevents().inject(add));
    ASSERT_TRUE(simUevents().inject(std::string("remove@/devices/usb1\0ACTION=remove", 34)));
    char buf[256];
    EXPECT_EQ(::recv(fd, buf, sizeof buf, 0), 42);
    EXPECT_EQ(std::string(buf, 42), add);
    EXPECT_EQ(::recv(fd, buf, sizeof buf, 0), 34);
    EXPECT_EQ(::recv(fd, buf, sizeof buf, MSG_DONTWAIT), -1);  // nothing more
    EXPECT_EQ(platform::uevents().close(fd), 0);
    EXPECT_EQ(platform::uevents().close(fd), -1);
}
