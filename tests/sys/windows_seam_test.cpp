// The Windows side of the platform seam, under wine: the send lock as a named
// mutex, Winsock's errors in the send-error classification, sockets and
// their wake-up, file replacement, and the compression library by its DLL name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "config/cp1251_literal.h"
#include "config/settings_writers.h"
#include "config/temp_settings_dir.h"
#include "feed/zlib_binding.h"
#include "links/tcp_connect.h"
#include "shell/startup/compression_check.h"
#include "sys/consumer_lock.h"
#include "sys/file_ops.h"
#include "sys/main_thread_tasks.h"
#include "sys/socket_calls.h"
#include "sys/socket_ops.h"
#include "sys/win/winsock_fd.h"

namespace velgor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::TempSettingsDir;

// This program started again as a copy of the relay that dies holding the lock:
// with VELGOR_TEST_DYING_HOLDER set to "exit" or "kill" and
// VELGOR_TEST_LOCK_DIR to the lock's directory, it takes the lock and ends
// without giving it back, before any test runs. Exit code 3: it held the lock.
const bool dyingHolderRan = [] {
    char how[8] = {};
    char dir[MAX_PATH] = {};
    if (::GetEnvironmentVariableA("VELGOR_TEST_DYING_HOLDER", how, sizeof how) == 0 ||
        ::GetEnvironmentVariableA("VELGOR_TEST_LOCK_DIR", dir, sizeof dir) == 0) {
        return false;
    }
    ConsumerLock lock{std::string(dir)};
    const UINT code = lock.acquire(0ms) ? 3 : 4;
    if (std::string_view(how) == "kill") ::TerminateProcess(::GetCurrentProcess(), code);
    ::ExitProcess(code);
}();

// Runs this program as a dying holder (`how`: "exit" or "kill") of the lock in
// `dir`; its exit code.
DWORD runDyingHolder(const char* how, const std::string& dir) {
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    ::SetEnvironmentVariableA("VELGOR_TEST_DYING_HOLDER", how);
    ::SetEnvironmentVariableA("VELGOR_TEST_LOCK_DIR", dir.c_str());
    std::string commandLine = std::string("\"") + self + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started = ::CreateProcessA(self, commandLine.data(), nullptr, nullptr, FALSE, 0,
                                          nullptr, nullptr, &startup, &process);
    ::SetEnvironmentVariableA("VELGOR_TEST_DYING_HOLDER", nullptr);
    ::SetEnvironmentVariableA("VELGOR_TEST_LOCK_DIR", nullptr);
    if (!started) return ~DWORD{0};
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

// Two objects for the same lock open one mutex by name: while one holds it
// the other waits out its limit; once it is given back (or its holder is gone)
// the other takes it at once. The relay's own lock is "winstfiledir".
TEST(WindowsConsumerLock, TwoHandlesShareOneNamedMutex) {
    TempSettingsDir scope;
    ConsumerLock first(scope.dir());
    ConsumerLock second(scope.dir());
    ASSERT_TRUE(first.usable() && second.usable());
    EXPECT_EQ(first.path().rfind(CONSUMER_LOCK_NAME, 0), 0u) << first.path();
    EXPECT_EQ(first.path().find('\\'), std::string::npos) << "no backslash in a mutex name";
    EXPECT_EQ(ConsumerLock().path(), "winstfiledir");

    ASSERT_TRUE(first.acquire(0ms));
    EXPECT_FALSE(first.acquire(0ms)) << "not re-entrant";
    const auto start = Clock::now();
    EXPECT_FALSE(second.acquire(300ms));
    EXPECT_GE(Clock::now() - start, 250ms) << "gave up before its limit";
    first.release();
    EXPECT_TRUE(second.acquire(0ms));
    second.release();

    {
        ConsumerLock holder(scope.dir());
        ASSERT_TRUE(holder.acquire(0ms));
        ConsumerLock moved(std::move(holder));
        EXPECT_TRUE(moved.held());
        EXPECT_FALSE(first.acquire(0ms));
    }
    EXPECT_TRUE(first.acquire(0ms)) << "a destroyed holder gives the lock back";
    first.release();

    TempSettingsDir otherScope;
    ConsumerLock other(otherScope.dir());
    ASSERT_TRUE(first.acquire(0ms));
    EXPECT_TRUE(other.acquire(0ms)) << "another directory is another lock";
}

// A copy of the relay that ends holding the lock, by ExitProcess or killed,
// leaves it to the next holder at once, not after the wait limit on every send.
TEST(WindowsConsumerLock, AHolderThatDiesLeavesTheLockFree) {
    for (const char* how : {"exit", "kill"}) {
        SCOPED_TRACE(how);
        TempSettingsDir scope;
        // Open while the holder dies, as another running copy has it.
        ConsumerLock survivor(scope.dir());
        ASSERT_TRUE(survivor.usable());
        ASSERT_EQ(runDyingHolder(how, scope.dir()), 3u) << "the copy did not take the lock";
        const auto start = Clock::now();
        EXPECT_TRUE(survivor.acquire(CONSUMER_LOCK_WAIT));
        EXPECT_LT(Clock::now() - start, 1s);
        survivor.release();
        EXPECT_TRUE(survivor.acquire(0ms)) << "given back as usual after that";
        survivor.release();
    }
}

// Winsock's codes take the same side as their POSIX twins: a dead connection
// is final, a full buffer or an interruption passes.
TEST(WindowsSocketErrors, WinsockCodesAreClassifiedAsTheirErrnoTwins) {
    const struct {
        int winsock;
        bool final;
    } cases[] = {
        {WSAECONNRESET, true},   {WSAENETRESET, true},    {WSAECONNABORTED, true},
        {WSAENOTCONN, true},     {WSAESHUTDOWN, true},    {WSAETIMEDOUT, true},
        {WSAEHOSTUNREACH, true}, {WSAENETUNREACH, true},  {WSAENETDOWN, true},
        {WSAENOTSOCK, true},     {WSAEWOULDBLOCK, false}, {WSAEINTR, false},
        {WSAENOBUFS, false},     {WSAEINPROGRESS, false}, {WSANOTINITIALISED, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sendErrorIsFinal(errnoFromWinsock(c.winsock)), c.final) << c.winsock;
    }
}

// A loopback pair for real sends: a full socket refuses with a passing error,
// a reset one with a final error, both seen through errno as on POSIX.
TEST(WindowsSocketErrors, RealSendsSetErrnoAsPosixDoes) {
    UniqueFd relayEnd;
    UniqueFd farEnd;
    ASSERT_TRUE(makeSocketPair(relayEnd, farEnd));
    ASSERT_TRUE(setNonBlocking(relayEnd.get(), true));
    SocketOps& ops = systemSocketOps();
    EXPECT_EQ(ops.unsentBytes(relayEnd.get()), -1);

    const std::string chunk(64 * 1024, 'x');
    long sent = 0;
    for (int i = 0; i < 10000 && sent >= 0; ++i)
        sent = ops.send(relayEnd.get(), chunk.data(), chunk.size());
    ASSERT_EQ(sent, -1) << "the peer never reads, so the socket must fill up";
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_FALSE(sendErrorIsFinal(errno));

    // Closing with unread data waiting resets the connection.
    farEnd.reset();
    for (int i = 0; i < 200 && (sent >= 0 || errno == EWOULDBLOCK); ++i) {
        sent = ops.send(relayEnd.get(), chunk.data(), 1);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(sent, -1);
    EXPECT_TRUE(sendErrorIsFinal(errno)) << errno;
}

// The descriptor owner closes its socket as a socket; the connect seam reaches
// a listener on 127.0.0.1, reports a refusal, and reads dotted addresses.
TEST(WindowsSockets, OwnerClosesAndConnectsWorkOnLoopback) {
    UniqueFd listener = openTcpSocket();
    ASSERT_TRUE(listener.valid());
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof where;
    ASSERT_EQ(::bind(toSocket(listener.get()), reinterpret_cast<sockaddr*>(&where), sizeof where),
              0);
    ASSERT_EQ(::listen(toSocket(listener.get()), 1), 0);
    ASSERT_EQ(::getsockname(toSocket(listener.get()), reinterpret_cast<sockaddr*>(&where), &size),
              0);
    const auto port = ntohs(where.sin_port);

    Ipv4Address loopback;
    ASSERT_TRUE(parseDottedIPv4("127.1", loopback)) << "the short form inet_aton takes";
    EXPECT_EQ(dottedIPv4(loopback), "127.0.0.1");
    Ipv4Address broadcast;
    EXPECT_TRUE(parseDottedIPv4("255.255.255.255", broadcast));
    EXPECT_FALSE(parseDottedIPv4("not an address", broadcast));
    std::vector<IpAddress> named;
    ASSERT_EQ(resolveHost("localhost", {}, lookUpAddresses, named), AttemptStep::Done);
    EXPECT_NE(std::find(named.begin(), named.end(), ipAddressOf(loopback)), named.end());

    UniqueFd client = createTcpSocket();
    EXPECT_EQ(connectAddress(client.get(), ipAddressOf(loopback), port, {}, 5s), AttemptStep::Done);
    const int held = client.get();
    client.reset();
    int type = 0;
    int typeSize = sizeof type;
    EXPECT_NE(::getsockopt(toSocket(held), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type),
                           &typeSize),
              0)
        << "the socket is closed";

    listener.reset();
    UniqueFd refused = createTcpSocket();
    EXPECT_EQ(connectAddress(refused.get(), ipAddressOf(loopback), port, {}, 5s),
              AttemptStep::Failed);
}

// The main thread's wake-up is a socket that is readable exactly while tasks wait.
TEST(WindowsWakeSignal, ReadableWhileATaskWaits) {
    MainThreadTasks tasks;
    ASSERT_TRUE(tasks.ready()) << tasks.wakeUpError();
    EXPECT_EQ(peekSocket(tasks.wakeFd()), -1);
    bool ran = false;
    std::thread asker([&] { EXPECT_TRUE(tasks.runOnMainThread([&] { ran = true; })); });
    const auto deadline = Clock::now() + 10s;
    while (peekSocket(tasks.wakeFd()) <= 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(tasks.runPending(), 1);
    asker.join();
    EXPECT_TRUE(ran);
    EXPECT_EQ(peekSocket(tasks.wakeFd()), -1);
    EXPECT_EQ(lastSocketError(), EWOULDBLOCK);
}

// MoveFileExA puts a new file over an existing one, and the settings writers
// replace their files that way.
TEST(WindowsFileReplace, NewFileTakesTheExistingOnesPlace) {
    TempSettingsDir dir;
    dir.write("name.ini", "Old\n");
    dir.write("name.ini.new", "New\n");
    EXPECT_EQ(replaceFile(dir.path("name.ini.new").string(), dir.path("name.ini").string()), 0);
    EXPECT_EQ(dir.read("name.ini"), "New\n");
    EXPECT_EQ(dir.listing(), "name.ini;");

    EXPECT_TRUE(writeNameFile(dir.dir(), "Newer"));
    EXPECT_EQ(dir.read("name.ini"), "Newer\n");
    EXPECT_EQ(dir.listing(), "name.ini;");

    EXPECT_FALSE(createNewFile(dir.path("name.ini").string())) << "the name exists";
    EXPECT_EQ(dir.read("name.ini"), "Newer\n");
}

// A read-only settings file is not replaced: the writer writes it in place,
// which Windows refuses, so the file stays as it was.
TEST(WindowsFileReplace, ReadOnlyFileIsNotReplaced) {
    TempSettingsDir dir;
    dir.write("name.ini", "Old\n");
    const std::string path = dir.path("name.ini").string();
    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(examineReplaceTarget(path).replaceable);
    // Wine run by root writes through the mark, as root does on POSIX.
    const bool enforced = !std::ofstream(path, std::ios::app).is_open();
    if (enforced) {
        EXPECT_FALSE(writeNameFile(dir.dir(), "Refused"));
        EXPECT_EQ(dir.read("name.ini"), "Old\n");
        EXPECT_EQ(dir.listing(), "name.ini;");
    }
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!enforced) GTEST_SKIP() << "the read-only mark is not enforced for this user";
}

// A compression library that cannot be attached is named in the start-up
// message (the real one, "zlib1.dll", is tested with the feed).
TEST(WindowsLibraryLoading, AMissingLibraryIsNamedInTheMessage) {
    const ZlibBinding missing("velgor-missing-zlib1.dll");
    EXPECT_EQ(missing.status(), ZlibBindStatus::LibraryMissing);
    const auto failure = compressionFailure(missing);
    ASSERT_TRUE(failure && failure->message);
    EXPECT_EQ(failure->exitCode, EXIT_LIBRARY_MISSING);
    EXPECT_EQ(failure->message->text,
              std::string(cp1251<u8"Не удалось подключить ">) + "velgor-missing-zlib1.dll\n");
}

}  // namespace
}  // namespace velgor
