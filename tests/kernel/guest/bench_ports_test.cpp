// zelk-cli's bench runner over the product's Linux backends, as its Linux entry wires them, with
// Debian's real dfu-util told each box's port: three boxes on three ports of the dummy USB bus,
// two of them variants with images of their own sizes, so that the bootloader's count of the
// bytes it received tells which image reached which box. With the boxes in their bootloaders at
// once, dfu-util downloads nothing unless -p names the port, so a box that got its own image got
// it through its own port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "box/dfu_bootloader.h"
#include "box/emulated_box.h"
#include "cli/bench_runner.h"
#include "cli/cli_options.h"
#include "cli/events.h"
#include "cli/history.h"
#include "guest_files.h"
#include "hid/linux/hidraw_transport.h"
#include "hid/linux/linux_box_platform.h"
#include "kernel/gadget_box.h"
#include "platform/steady_clock.h"
#include "platform/system_info.h"
#include "real_tool_package.h"
#include "support/temp_package.h"
#include "time/real_time_clock.h"

namespace ZELKKernelTest {
namespace {

namespace Cli = ZELKUtil::Cli;
using ZELKSim::BoxMode;
using ZELKSim::GadgetBox;
using ZELKSim::PortOfController;

constexpr std::size_t kImageA = std::size_t{64} * 1024;
constexpr std::size_t kImageB = std::size_t{96} * 1024;
constexpr const char* kHost = "kernel-guest";

// From a box's entry into its bootloader to its leaving it, on the boxes' clock.
struct Span {
    std::int64_t from = -1;
    std::int64_t to = -1;
};
std::int64_t Overlap(const Span& a, const Span& b) {
    return std::min(a.to, b.to) - std::max(a.from, b.from);
}

// One box on the bus and what the test knows of it.
struct BoxOnPort {
    BoxOnPort(ZELKSim::Timeline& clock, const wchar_t* product, const char* serial,
              unsigned controller)
        : box(clock, {0x14E3, 0x0706, product}),
          gadget(box, clock, {}, controller),
          port(PortOfController(controller)) {
        box.SetFirmwareVersion("2.01");
        box.SetSerial(serial);
    }
    ZELKSim::EmulatedBox box;
    GadgetBox gadget;
    const std::string port;
    Span bootloader;  // guarded by the bench's lock
};

// The package (variant Q750 with a 64 KiB image, Q750B with a 96 KiB one, both at 2.04), box A
// (a Q750, serial 100001) on the first port, box B (a Q750B, serial 200002) on the second and box
// C (a Q750, serial 300003) on the third, each bound to the bus when the test says, and the bench
// runner on a thread of its own.
struct PortBench {
    ZELKSim::RealTimeClock boxClock;
    BoxOnPort a{boxClock, L"ZELK Q750", "100001", 0};
    BoxOnPort b{boxClock, L"ZELK Q750 B", "200002", 1};
    BoxOnPort c{boxClock, L"ZELK Q750", "300003", 2};
    ZELKUtil::Testing::TempPackage pkg;
    ZELKUtil::SteadyClock clock;
    const std::int64_t startMs = clock.NowMs();
    std::atomic<bool> stopping{false};
    std::atomic<int> exitCode{-1};
    std::thread runner;
    std::mutex lock;  // guards the rest
    std::vector<std::string> out;
    std::vector<std::string> err;

    // demoPackage: a package folder to copy (the bundled demo package) in place of the test's.
    explicit PortBench(const char* demoPackage = nullptr) {
        RemoveBootloaderRules();
        if (demoPackage != nullptr) {
            std::filesystem::copy(demoPackage, pkg.Root(),
                                  std::filesystem::copy_options::recursive |
                                      std::filesystem::copy_options::copy_symlinks |
                                      std::filesystem::copy_options::overwrite_existing);
        } else {
            WriteOwnPackage();
        }
        ListenToBootloaders();
    }
    void WriteOwnPackage() {
        WriteRealToolPackage(
            pkg,
            "<detail profile=\"ZELK Q750\" vid=\"0x14E3\" pid=\"0x0706\" id=\"Q750\" name=\"ZELK "
            "Q750\" LPC3131=\"images/q750.bin\" A3P060=\"\" A3PN060=\"\"/><detail profile=\"ZELK "
            "Q750 B\" vid=\"0x14E3\" pid=\"0x0706\" id=\"Q750B\" name=\"ZELK Q750 B\" "
            "LPC3131=\"images/q750b.bin\" A3P060=\"\" A3PN060=\"\"/>",
            {{"images/q750.bin", ZELKSim::MakeFirmwareImage("2.04", kImageA)},
             {"images/q750b.bin", ZELKSim::MakeFirmwareImage("2.04", kImageB)}});
    }
    void ListenToBootloaders() {
        for (BoxOnPort* each : {&a, &b, &c}) {
            // Told with the box's own lock held: only notes the time.
            each->box.SetPresenceListener([this, each](BoxMode mode) {
                const std::lock_guard<std::mutex> held(lock);
                if (mode == BoxMode::Bootloader && each->bootloader.from < 0) {
                    each->bootloader.from = boxClock.NowMs();
                } else if (mode != BoxMode::Bootloader && each->bootloader.from >= 0 &&
                           each->bootloader.to < 0) {
                    each->bootloader.to = boxClock.NowMs();
                }
            });
        }
    }
    ~PortBench() {
        stopping = true;
        Finish();
        for (BoxOnPort* each : {&a, &b, &c}) {
            each->box.SetPresenceListener({});
        }
        RemoveBootloaderRules();
    }
    PortBench(const PortBench&) = delete;
    PortBench& operator=(const PortBench&) = delete;

    // Binds the boxes' gadgets; true once each box's hidraw node is on its port.
    static bool Plug(const std::vector<BoxOnPort*>& boxes) {
        for (BoxOnPort* box : boxes) {
            std::string error;
            if (!box->gadget.Start(&error)) {
                ADD_FAILURE() << error;
                return false;
            }
        }
        return std::all_of(boxes.begin(), boxes.end(), [](const BoxOnPort* box) {
            ZELKUtil::Hid::HidrawTransport hid;
            hid.hid_confine_to_port(box->port);
            return WaitFor([&hid] { return !hid.hid_ports(0x14E3, 0x0706).empty(); }, 20000);
        });
    }

    // zelk-cli's options with the package, the history file and these arguments.
    Cli::Options OptionsOf(std::vector<std::string> arguments) const {
        std::vector<std::string> words{"zelk-cli", "--package", pkg.Root(), "--history",
                                       History().Path()};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<const char*> argv;
        argv.reserve(words.size());
        for (const std::string& word : words) {
            argv.push_back(word.c_str());
        }
        const Cli::ParsedCommandLine parsed =
            Cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "0");
        EXPECT_TRUE(parsed.options) << parsed.output;
        return parsed.options.value_or(Cli::Options{});
    }
    // The seams of zelk-cli's Linux entry; its lines go to `out` and `err`.
    Cli::BenchSeams Seams(std::function<void(const std::string&)> toOut,
                          std::function<void(const std::string&)> toErr) {
        const std::string package = pkg.Root();
        return Cli::BenchSeams{
            clock,
            [package] { return ZELKUtil::Hid::LinuxBoxPlatform::HearingWhenAsked(package); },
            ZELKUtil::NativeMachine(),
            kHost,
            [] { return std::string("2026-12-07T01:37:36Z"); },
            std::move(toOut),
            std::move(toErr),
            true,
            "",
            {},
            {}};
    }
    // zelk-cli with the package, the history file and these arguments, on the runner's thread,
    // wired as its Linux entry wires it.
    void Start(std::vector<std::string> arguments) {
        Cli::BenchSeams seams = Seams([this](const std::string& line) { Keep(out, line); },
                                      [this](const std::string& line) { Keep(err, line); });
        runner = std::thread(
            [this, seams = std::move(seams), options = OptionsOf(std::move(arguments))] {
                Cli::BenchRunner bench(seams, options, stopping);
                exitCode = bench.Run();
            });
    }
    // The runner's exit code once it has ended. A runner still going after 90 s (the road takes
    // 20) is stuck on a box whose run may last its full 20 minutes: the program ends here with
    // the failure rather than wait for the guest's time-out.
    int Finish() {
        if (!runner.joinable()) {
            return exitCode;
        }
        if (!WaitFor([this] { return exitCode != -1; }, 90000)) {
            ADD_FAILURE() << "the bench runner did not end";
            std::fflush(stdout);
            std::_Exit(1);
        }
        runner.join();
        return exitCode;
    }
    // Ready for another run: its output, its history and its exit code start afresh.
    void Forget() {
        const std::lock_guard<std::mutex> held(lock);
        out.clear();
        err.clear();
        exitCode = -1;
        std::remove(History().Path().c_str());
        for (BoxOnPort* each : {&a, &b, &c}) {
            each->bootloader = Span{};
        }
    }

    void Keep(std::vector<std::string>& lines, const std::string& line) {
        std::printf("%6lld ms %s\n", static_cast<long long>(clock.NowMs() - startMs), line.c_str());
        const std::lock_guard<std::mutex> held(lock);
        lines.push_back(line);
    }
    Cli::HistoryFile History() const { return Cli::HistoryFile(pkg.Path("history.jsonl")); }

    // The port's events, in order.
    std::vector<Cli::BoxEvent> Events(const std::string& port) {
        const std::lock_guard<std::mutex> held(lock);
        std::vector<Cli::BoxEvent> events;
        for (const std::string& line : out) {
            if (line.rfind(R"({"event":"summary")", 0) == 0 ||
                line.rfind(R"({"event":"error")", 0) == 0) {
                continue;  // the run's table, of every box, or why the whole run failed
            }
            const auto event = Cli::FromJsonLine(line);
            EXPECT_TRUE(event) << line;
            if (event && Cli::PortOf(*event) == port) {
                events.push_back(*event);
            }
        }
        return events;
    }
    // What the port's runs ended with, in order.
    std::vector<std::string> Results(const std::string& port) {
        std::vector<std::string> results;
        for (const Cli::BoxEvent& event : Events(port)) {
            if (const auto* ended = std::get_if<Cli::Events::Ended>(&event)) {
                results.push_back(Cli::ResultName(ended->result));
            }
        }
        return results;
    }

    // One history record for each box, on its port, as its run left it.
    void ExpectHistory(const std::map<std::string, std::string>& resultOfPort) {
        const auto records = History().ReadAll();
        ASSERT_TRUE(records);
        std::map<std::string, std::string> found;
        for (const Cli::HistoryRecord& record : records.value().records) {
            SCOPED_TRACE(record.port);
            found[record.port] = record.result;
            const bool isB = record.port == b.port;
            EXPECT_EQ(record.model, isB ? "Q750B" : "Q750");
            EXPECT_EQ(record.serial, record.port == a.port ? "100001" : isB ? "200002" : "300003");
            EXPECT_EQ(record.versionBefore, record.result == "upgraded" ? "2.01" : "2.04");
            EXPECT_EQ(record.versionAfter, "2.04");
            EXPECT_EQ(record.host, kHost);
            EXPECT_EQ(record.packageVersion, "2.04");
        }
        EXPECT_EQ(records.value().records.size(), resultOfPort.size());
        EXPECT_EQ(found, resultOfPort);
    }
    // The box received its own variant's image, whole, and runs what it carries.
    static void ExpectOwnImage(const BoxOnPort& box, std::size_t bytes) {
        const auto download = box.gadget.LastDownload();
        ASSERT_TRUE(download) << box.port;
        EXPECT_EQ(download->bytes, bytes) << box.port;
        EXPECT_EQ(box.box.FirmwareVersion(), "2.04") << box.port;
        EXPECT_EQ(box.gadget.PumpError(), "") << box.port;
    }
};

TEST(BenchOnPorts, UpgradeAllTakesThreeBoxesAtOnceEachWithItsOwnImage) {
    PortBench bench;
    // One box alone first: the time three take is measured against it.
    ASSERT_TRUE(PortBench::Plug({&bench.a}));
    std::int64_t start = bench.clock.NowMs();
    bench.Start({"upgrade", "--all", "--json"});
    EXPECT_EQ(bench.Finish(), Cli::kExitOk);
    const std::int64_t oneMs = bench.clock.NowMs() - start;
    EXPECT_EQ(bench.Results(bench.a.port), std::vector<std::string>{"upgraded"});
    bench.a.box.SetFirmwareVersion("2.01");
    bench.Forget();

    ASSERT_TRUE(PortBench::Plug({&bench.b, &bench.c}));
    ASSERT_NE(bench.a.port, bench.b.port);
    ASSERT_NE(bench.b.port, bench.c.port);
    start = bench.clock.NowMs();
    bench.Start({"upgrade", "--all", "--json"});
    EXPECT_EQ(bench.Finish(), Cli::kExitOk);
    const std::int64_t threeMs = bench.clock.NowMs() - start;
    for (const BoxOnPort* box : {&bench.a, &bench.b, &bench.c}) {
        EXPECT_EQ(bench.Results(box->port), std::vector<std::string>{"upgraded"}) << box->port;
    }
    PortBench::ExpectOwnImage(bench.a, kImageA);
    PortBench::ExpectOwnImage(bench.b, kImageB);
    PortBench::ExpectOwnImage(bench.c, kImageA);
    bench.ExpectHistory(
        {{bench.a.port, "upgraded"}, {bench.b.port, "upgraded"}, {bench.c.port, "upgraded"}});
    std::printf("[  FIGURE  ] one box alone %lld ms; three boxes at once %lld ms: ratio %.2f\n",
                static_cast<long long>(oneMs), static_cast<long long>(threeMs),
                oneMs > 0 ? static_cast<double>(threeMs) / static_cast<double>(oneMs) : 0.0);

    // At once: the boxes were in their bootloaders together; whether the transfers themselves
    // overlapped depends on where each run's poll fell.
    const std::lock_guard<std::mutex> held(bench.lock);
    const std::int64_t together = Overlap(bench.a.bootloader, bench.b.bootloader);
    EXPECT_GT(together, 0) << "the boxes were in their bootloaders one after the other";
    EXPECT_GT(Overlap(bench.b.bootloader, bench.c.bootloader), 0);
    const auto downloadA = bench.a.gadget.LastDownload();
    const auto downloadB = bench.b.gadget.LastDownload();
    ASSERT_TRUE(downloadA && downloadB);
    const std::int64_t transfers = Overlap({downloadA->firstBlockMs, downloadA->endMs},
                                           {downloadB->firstBlockMs, downloadB->endMs});
    std::printf(
        "[  FIGURE  ] boxes A and B in their bootloaders together for %lld ms; the transfers "
        "(%lld ms on %s, %lld ms on %s) %s %lld ms\n",
        static_cast<long long>(together), static_cast<long long>(downloadA->Ms()),
        bench.a.port.c_str(), static_cast<long long>(downloadB->Ms()), bench.b.port.c_str(),
        transfers > 0 ? "overlapped by" : "were apart by",
        static_cast<long long>(transfers > 0 ? transfers : -transfers));
}

// The bundled demo package as the operator's guide has it: zelk-cli with it upgrades a box
// presented as `zelk-sim present` presents it, through the package's own dfu-util and driver
// installer.
TEST(BenchOnPorts, TheDemoPackageUpgradesAPresentedBox) {
    PortBench bench("/etc/zelk-test/demo-package");
    // `zelk-sim present --product "ZELK Video Converter"`: the package's first variant.
    bench.a.box.SetIdentity({0x14E3, 0x0706, L"ZELK Video Converter"});
    ASSERT_TRUE(PortBench::Plug({&bench.a}));
    bench.Start({"upgrade", "--all", "--json"});
    EXPECT_EQ(bench.Finish(), Cli::kExitOk);
    EXPECT_EQ(bench.Results(bench.a.port), std::vector<std::string>{"upgraded"});
    const auto image = std::filesystem::file_size(bench.pkg.Path("images/zelk-2.04.bin"));
    PortBench::ExpectOwnImage(bench.a, static_cast<std::size_t>(image));
    const std::lock_guard<std::mutex> held(bench.lock);
    EXPECT_EQ(bench.err, std::vector<std::string>{});
}

// A watch takes a box plugged in later, and sees a box swapped for another between two of its
// looks (no look sees the port empty) while the other box restarts into its bootloader.
TEST(BenchOnPorts, WatchUpgradesABoxPluggedInLaterAndOneSwappedBetweenTwoLooks) {
    PortBench bench;
    bench.a.box.SetFirmwareVersion("2.04");
    ASSERT_TRUE(PortBench::Plug({&bench.a}));
    bench.Start({"upgrade", "--watch", "--json"});
    ASSERT_TRUE(WaitFor([&] { return !bench.Results(bench.a.port).empty(); }, 30000));
    ASSERT_TRUE(PortBench::Plug({&bench.b}));
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::vector<Cli::BoxEvent> events = bench.Events(bench.b.port);
            return std::any_of(events.begin(), events.end(), [](const Cli::BoxEvent& event) {
                const auto* state = std::get_if<Cli::Events::State>(&event);
                return state != nullptr && state->state == Cli::BoxState::Restarting;
            });
        },
        60000));
    // Box A's place taken by a new, older box, with no moment between.
    bench.a.box.Unplug();
    bench.a.box.SetSerial("100009");
    bench.a.box.SetFirmwareVersion("2.00");
    bench.a.box.Plug(BoxMode::Normal);
    ASSERT_TRUE(WaitFor([&] { return bench.Results(bench.a.port).size() == 2; }, 90000))
        << "the swapped box was never seen";
    ASSERT_TRUE(WaitFor([&] { return !bench.Results(bench.b.port).empty(); }, 90000));
    // One more look at the bus with both boxes there and done.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    bench.stopping = true;
    // Ctrl+C that leaves nothing undone ends the watch with 0.
    EXPECT_EQ(bench.Finish(), Cli::kExitOk);

    // Nothing said of a box after its run's end.
    for (const std::string& port : {bench.a.port, bench.b.port}) {
        const std::vector<Cli::BoxEvent> events = bench.Events(port);
        ASSERT_FALSE(events.empty()) << port;
        EXPECT_TRUE(std::holds_alternative<Cli::Events::Ended>(events.back())) << port;
    }
    EXPECT_EQ(bench.Results(bench.a.port), (std::vector<std::string>{"up-to-date", "upgraded"}));
    EXPECT_EQ(bench.Results(bench.b.port), std::vector<std::string>{"upgraded"});
    PortBench::ExpectOwnImage(bench.a, kImageA);
    PortBench::ExpectOwnImage(bench.b, kImageB);
    const auto records = bench.History().ReadAll();
    ASSERT_TRUE(records);
    std::vector<std::string> told;
    for (const Cli::HistoryRecord& record : records.value().records) {
        told.push_back(record.port + " " + record.serial + " " + record.versionBefore + " " +
                       record.result);
    }
    std::sort(told.begin(), told.end());
    EXPECT_EQ(told, (std::vector<std::string>{bench.a.port + " 100001 2.04 up-to-date",
                                              bench.a.port + " 100009 2.00 upgraded",
                                              bench.b.port + " 200002 2.01 upgraded"}));
    const std::lock_guard<std::mutex> held(bench.lock);
    EXPECT_EQ(bench.err, std::vector<std::string>{});
}

// The processes of that name: a tool a killed run left behind.
std::vector<pid_t> ProcessesNamed(const std::string& name) {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        std::ifstream comm(entry.path() / "comm");
        std::string text;
        if (pid.find_first_not_of("0123456789") == std::string::npos && std::getline(comm, text) &&
            text == name) {
            found.push_back(static_cast<pid_t>(std::stoi(pid)));
        }
    }
    return found;
}

// Reads the descriptor until what it gave holds the text; false at its end or after the time.
bool ReadUntil(int fd, const std::string& text, int timeoutMs) {
    std::string read;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (read.find(text) == std::string::npos) {
        pollfd ready{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        char buffer[4096];
        ssize_t n = 0;
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
            (n = ::read(fd, buffer, sizeof buffer)) <= 0) {
            return false;
        }
        read.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

// A crash or a power cut of the PC in the middle of a download: zelk-cli and its dfu-util are
// killed, and the box stays in its bootloader with part of an image. The next run knows it from
// the history's record, writes the whole image and closes the earlier record as taken up.
TEST(BenchOnPorts, AKilledRunsBoxLeftInItsBootloaderIsFinishedFromItsRecord) {
    PortBench bench;
    // An image large enough for the kill to land in the middle of its transfer.
    constexpr std::size_t kLarge = std::size_t{2} * 1024 * 1024;
    std::filesystem::remove_all(bench.pkg.Path("Tools"));
    WriteRealToolPackage(bench.pkg,
                         "<detail profile=\"ZELK Q750\" vid=\"0x14E3\" pid=\"0x0706\" "
                         "id=\"Q750\" name=\"ZELK Q750\" LPC3131=\"images/q750.bin\" "
                         "A3P060=\"\" A3PN060=\"\"/>",
                         {{"images/q750.bin", ZELKSim::MakeFirmwareImage("2.04", kLarge)}});
    ASSERT_TRUE(PortBench::Plug({&bench.a}));
    int lines[2];
    ASSERT_EQ(::pipe(lines), 0);
    const Cli::Options options = bench.OptionsOf({"upgrade", "--all", "--json"});
    const pid_t run = ::fork();
    ASSERT_GE(run, 0);
    if (run == 0) {
        // zelk-cli as a process of its own (the box's gadget stays with the test).
        ::close(lines[0]);
        const std::atomic<bool> never{false};
        Cli::BenchRunner runner(bench.Seams(
                                    [fd = lines[1]](const std::string& line) {
                                        const std::string text = line + "\n";
                                        (void)!::write(fd, text.data(), text.size());
                                    },
                                    [](const std::string&) {}),
                                options, never);
        ::_exit(runner.Run());
    }
    ::close(lines[1]);
    const bool downloading = ReadUntil(lines[0], R"("event":"download")", 90000);
    ::kill(run, SIGKILL);
    for (const pid_t tool : ProcessesNamed("dfu-util")) {
        ::kill(tool, SIGKILL);
    }
    ASSERT_EQ(::waitpid(run, nullptr, 0), run);
    ::close(lines[0]);
    ASSERT_TRUE(downloading) << "the first run never reached its download";
    EXPECT_EQ(bench.a.box.Mode(), BoxMode::Bootloader);
    EXPECT_FALSE(bench.a.gadget.LastDownload()) << "the transfer was not cut";
    {
        const auto left = bench.History().ReadAll();
        ASSERT_TRUE(left);
        ASSERT_EQ(left.value().records.size(), 1U);
        EXPECT_EQ(left.value().records[0].result, Cli::kUnfinished);
        EXPECT_EQ(left.value().records[0].stage, "sent to its bootloader");
    }

    bench.Start({"upgrade", "--all", "--json"});
    EXPECT_EQ(bench.Finish(), Cli::kExitOk);
    EXPECT_EQ(bench.Results(bench.a.port), std::vector<std::string>{"upgraded"});
    const std::vector<Cli::BoxEvent> events = bench.Events(bench.a.port);
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const Cli::BoxEvent& event) {
        const auto* resumed = std::get_if<Cli::Events::Resumed>(&event);
        return resumed != nullptr && resumed->model == "Q750" && resumed->serial == "100001";
    }));
    // Its whole image this time (the pump's ep0 saw the killed tool's request go unanswered, as
    // a real box's would: its error is not looked at here).
    const auto download = bench.a.gadget.LastDownload();
    ASSERT_TRUE(download);
    EXPECT_EQ(download->bytes, kLarge);
    EXPECT_EQ(bench.a.box.FirmwareVersion(), "2.04");
    const auto records = bench.History().ReadAll();
    ASSERT_TRUE(records);
    ASSERT_EQ(records.value().records.size(), 2U);
    EXPECT_EQ(records.value().records[0].result, Cli::kResumed);
    EXPECT_EQ(records.value().records[1].result, "upgraded");
    EXPECT_EQ(records.value().records[1].resumes, records.value().records[0].id);
}

// The history reaches the file size limit (ulimit -f) in the middle of a run of three boxes:
// zelk-cli as it ships, not a process made to look like it, takes the failed writes as an outcome.
// It exits 73, every box is finished or untouched, and no record is torn.
TEST(BenchOnPorts, AHistoryAtTheFileSizeLimitMidRunLeavesEveryBoxFinishedOrUntouched) {
    if (::access("/usr/bin/zelk-cli", X_OK) != 0) {
        GTEST_SKIP() << "zelk-cli is not in the guest (ZELK_CLI_PROGRAM was not set)";
    }
    PortBench bench;
    ASSERT_TRUE(PortBench::Plug({&bench.a, &bench.b, &bench.c}));
    const std::string history = bench.History().Path();
    const pid_t run = ::fork();
    ASSERT_GE(run, 0);
    if (run == 0) {
        // Room for the run's record and the boxes' first records, not for their roads.
        const rlimit limit{2000, 2000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execl("/usr/bin/zelk-cli", "zelk-cli", "--package", bench.pkg.Root().c_str(), "--history",
                history.c_str(), "--json", "upgrade", "--all", nullptr);
        ::_exit(127);
    }
    int status = 0;
    ASSERT_TRUE(WaitFor([&] { return ::waitpid(run, &status, WNOHANG) == run; }, 120000));
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), Cli::kExitHistory);
    for (const BoxOnPort* box : {&bench.a, &bench.b, &bench.c}) {
        const auto download = box->gadget.LastDownload();
        const bool finished = box->box.FirmwareVersion() == "2.04" && download.has_value();
        const bool untouched = box->box.FirmwareVersion() == "2.01" && !download.has_value() &&
                               box->box.Mode() == BoxMode::Normal;
        EXPECT_TRUE(finished || untouched) << box->port << " " << box->box.FirmwareVersion();
    }
    const auto records = bench.History().ReadAll();
    ASSERT_TRUE(records);
    EXPECT_FALSE(records.value().records.empty()) << "the limit came before any box";
    EXPECT_EQ(records.value().unreadable, 0U) << "a torn record";
}

}  // namespace
}  // namespace ZELKKernelTest
