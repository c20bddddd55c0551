#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "config/cp1251.h"
#include "config/link_endpoint.h"
#include "config/relay_settings.h"
#include "config/settings_file_names.h"
#include "config/settings_loader.h"
#include "config/temp_settings_dir.h"

namespace velgor {
namespace {

using test::TempSettingsDir;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

// Everything loadSettings fills, starting from the program's defaults.
struct Loaded {
    RelaySettings settings;
    LinkEndpoint local{DEFAULT_LOCAL_PORT};
    LinkEndpoint source{DEFAULT_SOURCE_PORT};
    LinkEndpoint consumer{DEFAULT_CONSUMER_PORT};
};

using Files = std::vector<std::pair<std::string, std::string>>;

Loaded loadFrom(const TempSettingsDir& dir) {
    Loaded loaded;
    loadSettings(dir.dir(), loaded.settings, loaded.local, loaded.source, loaded.consumer);
    return loaded;
}

Loaded loadFiles(const Files& files) {
    TempSettingsDir dir;
    for (const auto& [name, bytes] : files) dir.write(name, bytes);
    return loadFrom(dir);
}

void expectDefaults(const Loaded& l) {
    EXPECT_EQ(l.source.host, "127.0.0.1");
    EXPECT_EQ(l.source.port, 7777);
    EXPECT_EQ(l.consumer.host, "127.0.0.1");
    EXPECT_EQ(l.consumer.port, 8888);
    EXPECT_EQ(l.local.host, "127.0.0.1");
    EXPECT_EQ(l.local.port, 9999);
    const RelaySettings& s = l.settings;
    EXPECT_EQ(s.stationName, "Kervala");
    EXPECT_DOUBLE_EQ(s.stationLatitude / 3600.0, 47.1982);
    EXPECT_DOUBLE_EQ(s.stationLongitude / 3600.0, 39.6282);
    EXPECT_EQ(s.binaryMode, 0);
    EXPECT_EQ(s.compressEnabled, 0);
    EXPECT_EQ(s.watchdogEnabled, 0);
    EXPECT_EQ(s.noDataLimit, 60);
    EXPECT_EQ(s.signalThreshold, 50);
    EXPECT_EQ(s.compressTicks, 50);
    EXPECT_EQ(s.timerFrequency, 12000000);
    EXPECT_EQ(s.comPortName, "COM1");
    EXPECT_EQ(s.comPortSpeed, "9600");
    EXPECT_EQ(s.udpPort, 17219);
    EXPECT_EQ(s.udpAddress, "127.255.255.255");
    EXPECT_EQ(s.localServerPort, 7777);
    EXPECT_TRUE(s.icaoListText.empty());
}

TEST(LoadSettings, NoFilesKeepsEveryDefault) {
    expectDefaults(loadFiles({}));
}

TEST(LoadSettings, FullSetOfFilesReadsTheSameWithCrLfOrLf) {
    const Files lfFiles = {
        {"init.ini", "COM3\n115200\n"},
        {"icao24plus.txt", "4CA123\n"},
        {"udp.ini", "30001\n192.168.1.255\n"},
        {"initsocket.ini", "1234\nlocalhost\n"},
        {"initmkp1.ini", "30005\nreceiver.local\n"},
        {"BinarComOn.ini", "1\n1\n1\n600\n"},
        {"initmkp2.ini", "31090\n10.0.0.2\n"},
        {"point.ini", "55.75\n37.6167\n"},
        {"name.ini", "Station-7\n"},
        {"porog.ini", "120\n"},
        {"time.ini", "20\n"},
        {"frequency.ini", "1000000\n"},
    };
    Files crLfFiles;
    for (const auto& [name, bytes] : lfFiles) {
        std::string crLf;
        for (char c : bytes) crLf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        crLfFiles.emplace_back(name, name == "icao24plus.txt" ? bytes : crLf);
    }
    const Files* variants[] = {&lfFiles, &crLfFiles};
    for (const Files* files : variants) {
        const Loaded l = loadFiles(*files);
        const RelaySettings& s = l.settings;
        EXPECT_EQ(s.comPortName, "COM3");
        EXPECT_EQ(s.comPortSpeed, "115200");
        EXPECT_EQ(s.udpPort, 30001);
        EXPECT_EQ(s.udpAddress, "192.168.1.255");
        EXPECT_EQ(l.local.port, 1234);
        EXPECT_EQ(s.localServerPort, 1234);
        EXPECT_EQ(l.local.host, "localhost");
        EXPECT_EQ(l.source.port, 30005);
        EXPECT_EQ(l.source.host, "receiver.local");
        EXPECT_EQ(l.consumer.port, 31090);
        EXPECT_EQ(l.consumer.host, "10.0.0.2");
        EXPECT_EQ(s.binaryMode, 1);
        EXPECT_EQ(s.compressEnabled, 1);
        EXPECT_EQ(s.watchdogEnabled, 1);
        EXPECT_EQ(s.noDataLimit, 600);
        EXPECT_DOUBLE_EQ(s.stationLatitude, 55.75 * 3600);
        EXPECT_DOUBLE_EQ(s.stationLongitude, 37.6167 * 3600);
        EXPECT_EQ(s.stationName, "Station-7");
        EXPECT_EQ(s.signalThreshold, 120);
        EXPECT_EQ(s.compressTicks, 20);
        EXPECT_EQ(s.timerFrequency, 1000000);
    }
}

// One case: the files present, and what must hold afterwards.
struct LoadCase {
    const char* what;
    Files files;
    std::function<void(const Loaded&)> check;
};

void runCases(const std::vector<LoadCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.check(loadFiles(c.files));
    }
}

TEST(LoadSettings, EndpointFilesReadStraightIntoTheHostField) {
    runCases({
        {"one numeric line: port and host are that text",
         {{"initmkp1.ini", "5000\n"}},
         [](const Loaded& l) {
             EXPECT_EQ(l.source.port, 5000);
             EXPECT_EQ(l.source.host, "5000");
         }},
        {"empty file: host kept, port from its text",
         {{"initmkp1.ini", ""}},
         [](const Loaded& l) {
             EXPECT_EQ(l.source.port, 127);
             EXPECT_EQ(l.source.host, "127.0.0.1");
         }},
        {"65536 wraps to 0",
         {{"initmkp2.ini", "65536\nconsumer\n"}},
         [](const Loaded& l) {
             EXPECT_EQ(l.consumer.port, 0);
             EXPECT_EQ(l.consumer.host, "consumer");
         }},
        {"port followed by words",
         {{"initmkp1.ini", "7777 words\nsrv\n"}},
         [](const Loaded& l) { EXPECT_EQ(l.source.port, 7777); }},
        {"local link: both the slot port and localServerPort",
         {{"initsocket.ini", "4321\n"}},
         [](const Loaded& l) {
             EXPECT_EQ(l.local.port, 4321);
             EXPECT_EQ(l.settings.localServerPort, 4321);
             EXPECT_EQ(l.local.host, "4321");
         }},
        {"empty initsocket.ini: both become 127",
         {{"initsocket.ini", ""}},
         [](const Loaded& l) {
             EXPECT_EQ(l.local.port, 127);
             EXPECT_EQ(l.settings.localServerPort, 127);
         }},
        {"init.ini with one line keeps the default speed",
         {{"init.ini", "COM7\n"}},
         [](const Loaded& l) {
             EXPECT_EQ(l.settings.comPortName, "COM7");
             EXPECT_EQ(l.settings.comPortSpeed, "9600");
         }},
    });
}

TEST(LoadSettings, LineBufferFilesRepeatTheBufferForMissingLines) {
    runCases({
        {"BinarComOn.ini with a lone 1 sets all four",
         {{"BinarComOn.ini", "1"}},
         [](const Loaded& l) {
             EXPECT_EQ(l.settings.binaryMode, 1);
             EXPECT_EQ(l.settings.compressEnabled, 1);
             EXPECT_EQ(l.settings.watchdogEnabled, 1);
             EXPECT_EQ(l.settings.noDataLimit, 1);
         }},
        {"BinarComOn.ini takes any integer",
         {{"BinarComOn.ini", "-3\n7\nyes\n-600\n"}},
         [](const Loaded& l) {
             EXPECT_EQ(l.settings.binaryMode, -3);
             EXPECT_EQ(l.settings.compressEnabled, 7);
             EXPECT_EQ(l.settings.watchdogEnabled, 0);
             EXPECT_EQ(l.settings.noDataLimit, -600);
         }},
        {"point.ini with one line: longitude equals latitude",
         {{"point.ini", "50.5\n"}},
         [](const Loaded& l) {
             EXPECT_DOUBLE_EQ(l.settings.stationLatitude, 50.5 * 3600);
             EXPECT_DOUBLE_EQ(l.settings.stationLongitude, 50.5 * 3600);
         }},
        {"point.ini: a comma ends the number",
         {{"point.ini", "47,5\n39.6\n"}},
         [](const Loaded& l) {
             EXPECT_DOUBLE_EQ(l.settings.stationLatitude, 47.0 * 3600);
             EXPECT_DOUBLE_EQ(l.settings.stationLongitude, 39.6 * 3600);
         }},
        {"udp.ini with one line: the address is that text",
         {{"udp.ini", "1234\n"}},
         [](const Loaded& l) {
             EXPECT_EQ(l.settings.udpPort, 1234);
             EXPECT_EQ(l.settings.udpAddress, "1234");
         }},
    });
}

TEST(LoadSettings, FileWhoseFirstReadFindsTheEndKeepsTheCurrentValues) {
    Files empty;
    for (const char* name :
         {SETTINGS_FILE_UDP, SETTINGS_FILE_MODES, SETTINGS_FILE_POINT, SETTINGS_FILE_NAME,
          SETTINGS_FILE_THRESHOLD, SETTINGS_FILE_COMPRESS_STEP, SETTINGS_FILE_FREQUENCY,
          SETTINGS_FILE_SERIAL}) {
        empty.emplace_back(name, "");
    }
    const Loaded l = loadFiles(empty);
    EXPECT_EQ(l.settings.udpPort, 17219);
    EXPECT_EQ(l.settings.udpAddress, "127.255.255.255");
    EXPECT_EQ(l.settings.noDataLimit, 60);
    EXPECT_EQ(l.settings.binaryMode, 0);
    EXPECT_DOUBLE_EQ(l.settings.stationLatitude, 47.1982 * 3600);
    EXPECT_DOUBLE_EQ(l.settings.stationLongitude, 39.6282 * 3600);
    EXPECT_EQ(l.settings.stationName, "Kervala");
    EXPECT_EQ(l.settings.signalThreshold, 50);
    EXPECT_EQ(l.settings.compressTicks, 50);
    EXPECT_EQ(l.settings.timerFrequency, 12000000);
    EXPECT_EQ(l.settings.comPortName, "COM1");
    EXPECT_EQ(l.settings.comPortSpeed, "9600");
}

// With CR as the only separator the first read runs to the end of the file
// (the files are short); its value is the text before the first CR, and the
// later reads find the end.
TEST(LoadSettings, CrOnlyFilesAreOneLine) {
    runCases({
        {"endpoint",
         {{"initmkp1.ini", "5000\rfar.host\r"}},
         [](const Loaded& l) {
             EXPECT_EQ(l.source.port, 5000);
             EXPECT_EQ(l.source.host, "5000");
         }},
        {"modes",
         {{"BinarComOn.ini", "1\r0\r0\r30\r"}},
         [](const Loaded& l) {
             EXPECT_EQ(l.settings.binaryMode, 1);
             EXPECT_EQ(l.settings.compressEnabled, 1);
             EXPECT_EQ(l.settings.watchdogEnabled, 1);
             EXPECT_EQ(l.settings.noDataLimit, 1);
         }},
        {"point",
         {{"point.ini", "47.5\r39.5\r"}},
         [](const Loaded& l) {
             EXPECT_DOUBLE_EQ(l.settings.stationLatitude, 47.5 * 3600);
             EXPECT_DOUBLE_EQ(l.settings.stationLongitude, 47.5 * 3600);
         }},
    });
}

TEST(LoadSettings, NumbersAreTakenWithoutRangeChecks) {
    runCases({
        {"threshold 300",
         {{"porog.ini", "300\n"}},
         [](const Loaded& l) { EXPECT_EQ(l.settings.signalThreshold, 300); }},
        {"negative threshold",
         {{"porog.ini", "-5\n"}},
         [](const Loaded& l) { EXPECT_EQ(l.settings.signalThreshold, -5); }},
        {"huge numbers saturate",
         {{"porog.ini", "99999999999\n"},
          {"time.ini", "-99999999999\n"},
          {"frequency.ini", "4000000000\n"},
          {"BinarComOn.ini", "0\n0\n1\n" + std::string(120, '9') + "\n"}},
         [](const Loaded& l) {
             EXPECT_EQ(l.settings.signalThreshold, kMax);
             EXPECT_EQ(l.settings.compressTicks, kMin);
             EXPECT_EQ(l.settings.timerFrequency, kMax);
             EXPECT_EQ(l.settings.noDataLimit, kMax);
         }},
    });
}

// Lines longer than a read are delivered in pieces, N - 1 characters at a time.
TEST(LoadSettings, LongLinesAreReadInBoundedPieces) {
    const std::string longName = "N" + std::string(4998, 'x') + "\n";
    runCases({
        {"5000-byte name keeps its first 255 bytes",
         {{"name.ini", longName}},
         [](const Loaded& l) {
             EXPECT_EQ(l.settings.stationName.view(), ("N" + std::string(254, 'x')));
         }},
        {"udp.ini: the address is the second 1023-byte piece of line 1, cut to 255",
         {{"udp.ini", "1234" + std::string(1019, 'a') + std::string(3000, 'b') + "\nhost\n"}},
         [](const Loaded& l) {
             EXPECT_EQ(l.settings.udpPort, 1234);
             EXPECT_EQ(l.settings.udpAddress.view(), std::string(255, 'b'));
         }},
        {"endpoint: the host is the second 255-byte piece of line 1",
         {{"initmkp1.ini", "8080" + std::string(251, ' ') + "next.piece" + std::string(4000, 'z') +
                               "\nreal.host\n"}},
         [](const Loaded& l) {
             EXPECT_EQ(l.source.port, 8080);
             EXPECT_EQ(l.source.host.view(), "next.piece" + std::string(245, 'z'));
         }},
        {"modes: 127-byte pieces of one line become separate values",
         {{"BinarComOn.ini", "7" + std::string(300, ' ') + "\n2\n"}},
         [](const Loaded& l) {
             EXPECT_EQ(l.settings.binaryMode, 7);
             EXPECT_EQ(l.settings.compressEnabled, 0);
             EXPECT_EQ(l.settings.watchdogEnabled, 0);
             EXPECT_EQ(l.settings.noDataLimit, 2);
         }},
    });
}

TEST(LoadSettings, NulBytesEndTheValue) {
    runCases({
        {"endpoint",
         {{"initmkp1.ini", std::string("80\0"
                                       "99\nho\0st\n",
                                       12)}},
         [](const Loaded& l) {
             EXPECT_EQ(l.source.port, 80);
             EXPECT_EQ(l.source.host, "ho");
         }},
        {"name",
         {{"name.ini", std::string("Ab\0cd\n", 6)}},
         [](const Loaded& l) { EXPECT_EQ(l.settings.stationName, "Ab"); }},
        {"modes",
         {{"BinarComOn.ini", std::string("\0"
                                         "5\n1\n",
                                         5)}},
         [](const Loaded& l) {
             EXPECT_EQ(l.settings.binaryMode, 0);
             EXPECT_EQ(l.settings.compressEnabled, 1);
         }},
    });
}

TEST(LoadSettings, RussianNameIsKeptAsWindows1251Bytes) {
    const std::string name = utf8ToCp1251("Станция Ростов");
    const Loaded l = loadFiles({{"name.ini", name + "\r\n"}});
    EXPECT_EQ(l.settings.stationName.view(), name);
    EXPECT_EQ(cp1251ToUtf8(l.settings.stationName.view()), "Станция Ростов");
}

TEST(LoadSettings, IcaoListIsTheWholeFileZeroTerminated) {
    const std::string content("4CA123\r\nABC\0DEF\rX", 17);
    Loaded l = loadFiles({{"icao24plus.txt", content}});
    ASSERT_EQ(l.settings.icaoListText.size(), content.size() + 1);
    EXPECT_EQ(std::string(l.settings.icaoListText.data(), content.size()), content);
    EXPECT_EQ(l.settings.icaoListText.back(), '\0');

    releaseSettings(l.settings);
    EXPECT_TRUE(l.settings.icaoListText.empty());
    EXPECT_EQ(l.settings.icaoListText.capacity(), 0u);

    const Loaded empty = loadFiles({{"icao24plus.txt", ""}});
    EXPECT_EQ(empty.settings.icaoListText, std::vector<char>{'\0'});
}

}  // namespace
}  // namespace velgor
