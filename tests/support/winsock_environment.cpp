// Winsock is the program's to start: every test program built for Windows starts
// it before its first test and ends it after the last.
#include <gtest/gtest.h>
#include <winsock2.h>

namespace {

class WinsockEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        WSADATA data{};
        ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0) << "Winsock 2.2 did not start";
    }
    void TearDown() override { ::WSACleanup(); }
};

[[maybe_unused]] ::testing::Environment* const winsock =
    ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

}  // namespace
