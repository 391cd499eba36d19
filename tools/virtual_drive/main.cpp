// keluflash-virtual-drive: a simulated KELU drive attached to the running
// Linux kernel as a USB optical drive (FunctionFS on dummy_hcd, Bulk-Only
// Transport), so keluflash reaches it through the kernel's real sg, sr and
// usb-storage drivers. It serves until it is stopped (Ctrl-C, SIGTERM).
#include <CLI/CLI.hpp>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "drive/sim/simulated_machine.h"
#include "tools/virtual_drive/bulk_only_transport.h"
#include "tools/virtual_drive/function_fs_gadget.h"

namespace keluflash::virtual_drive {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
    std::string profile = "default";
    int drive = 0;
    std::string flashFile;
    uint64_t stopAnsweringAt = 0;
    uint64_t vanishAt = 0;
    uint64_t holdAnswerAt = 0;
    uint64_t holdPollsAfterTrigger = 0;
    std::optional<uint32_t> programmingSeconds;
    std::string counting;  // "5A/A0", "3B" or empty: every command counts
    std::string udc;
    bool verbose = false;
};

// Which commands the fault counters count.
struct CommandFilter {
    std::optional<uint8_t> opcode;
    std::optional<uint8_t> subCode;  // byte 5 of a vendor command

    bool Matches(const std::array<uint8_t, 16>& cdb) const {
        return (!opcode || cdb[0] == *opcode) && (!subCode || cdb[5] == *subCode);
    }
};

std::optional<CommandFilter> ParseFilter(const std::string& text) {
    CommandFilter filter;
    if (text.empty()) return filter;
    const auto hexByte = [](const std::string& part) -> std::optional<uint8_t> {
        if (part.empty() || part.size() > 2) return std::nullopt;
        size_t used = 0;
        const unsigned long value = std::stoul(part, &used, 16);
        if (used != part.size()) return std::nullopt;
        return static_cast<uint8_t>(value);
    };
    try {
        const size_t slash = text.find('/');
        filter.opcode = hexByte(text.substr(0, slash));
        if (!filter.opcode) return std::nullopt;
        if (slash != std::string::npos) {
            filter.subCode = hexByte(text.substr(slash + 1));
            if (!filter.subCode) return std::nullopt;
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return filter;
}

void WakeOnly(int) {}

class VirtualDrive {
public:
    VirtualDrive(const Options& options, SimulatedDriveConfig config, CommandFilter filter)
        : m_options(options), m_filter(filter), m_drive(std::move(config), m_clock),
          m_start(std::chrono::steady_clock::now()) {}

    int Run() {
        GadgetError error;
        const SimulatedDriveConfig& config = m_drive.Config();
        m_gadget = FunctionFsGadget::Create({m_options.udc, config.product}, error);
        if (!m_gadget) {
            Log(error.message);
            return kExitFailed;
        }
        m_control = std::thread([this] { ControlLoop(); });
        m_bulk = std::thread([this] { BulkLoop(); });
        if (!m_gadget->Bind(error)) {
            Log(error.message);
            Stop();
            return kExitFailed;
        }
        Log(config.vendor + " " + config.product + " " + config.revision + " (profile " + m_options.profile +
            ") on " + m_gadget->Udc() + "; waiting for the kernel to attach it");

        bool announced = false;
        const auto waitingSince = std::chrono::steady_clock::now();
        sigset_t stopSignals = HandledSignals();
        for (;;) {
            const timespec tick{0, 250'000'000};
            const int signal = ::sigtimedwait(&stopSignals, nullptr, &tick);
            if (signal == SIGUSR1) {
                SaveFlash();
                continue;
            }
            if (signal > 0) break;
            if (!announced && m_gadget->Bound()) {
                const AttachedNodes nodes = FindAttachedNodes(m_gadget->Udc(), config.vendor, config.product);
                if (!nodes.generic.empty()) {
                    Log("attached as " + nodes.generic + (nodes.block.empty() ? "" : " (" + nodes.block + ")"));
                    announced = true;
                } else if (std::chrono::steady_clock::now() - waitingSince > std::chrono::seconds(60)) {
                    Log("no sg node after 60 s: are usb-storage and sg loaded? (modprobe -a usb-storage sg sr_mod)");
                    announced = true;
                }
            }
        }
        Stop();
        if (!m_options.flashFile.empty()) SaveFlash();
        PrintSummary();
        return kExitOk;
    }

    static sigset_t HandledSignals() {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&set, signal);
        return set;
    }

private:
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }

    void Log(const std::string& text) {
        const std::lock_guard lock(m_logMutex);
        std::fprintf(stderr, "keluflash-virtual-drive [%8.3f] %s\n", Seconds(), text.c_str());
        std::fflush(stderr);
    }

    // The drive lives on real time: its programming takes real seconds.
    ScsiResult Execute(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction) {
        const std::lock_guard lock(m_driveMutex);
        const auto now = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start).count());
        if (now > m_clock.Now()) m_clock.Advance(now - m_clock.Now());
        return m_drive.Execute(cdb, data, length, direction);
    }

    void SaveFlash() {
        if (m_options.flashFile.empty()) {
            Log("SIGUSR1: no --flash-file to write the flash to");
            return;
        }
        const std::string temporary = m_options.flashFile + ".part";
        int banks = 0;
        {
            const std::lock_guard lock(m_driveMutex);
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            banks = m_drive.Config().bankCount;
            for (int bank = 0; bank < banks && out; ++bank) {
                const std::vector<uint8_t>& bytes = m_drive.Bank(bank);
                out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            }
            if (!out) {
                Log("cannot write " + temporary);
                return;
            }
        }
        std::error_code ec;
        std::filesystem::rename(temporary, m_options.flashFile, ec);
        if (ec) {
            Log("cannot write " + m_options.flashFile + ": " + ec.message());
            return;
        }
        Log("flash (" + std::to_string(banks) + " banks of 65536 bytes) written to " + m_options.flashFile);
    }

    // A reset from the host: the bulk side drops what it was doing and waits
    // for the next CBW. A blocked transfer is woken by SIGUSR2 until the bulk
    // thread has seen the reset.
    void SignalReset() {
        const uint64_t generation = ++m_resets;
        {
            const std::lock_guard lock(m_waitMutex);
        }
        m_resetArrived.notify_all();
        for (int i = 0; i < 1000 && m_acknowledged.load() < generation && !m_stop; ++i) {
            ::pthread_kill(m_bulk.native_handle(), SIGUSR2);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    void ControlLoop() {
        const int ep0 = m_gadget->ControlEndpoint();
        while (!m_stop) {
            const bool served = ServeControlEvents(ep0, [this](ControlEvent event, const std::string& text) {
                if (event == ControlEvent::Reset || event == ControlEvent::Disabled) {
                    ++(event == ControlEvent::Reset ? m_stats.bulkOnlyResets : m_stats.disables);
                    Log(text);
                    SignalReset();
                } else if (event != ControlEvent::None || m_options.verbose) {
                    Log(text);
                }
            });
            if (!served && errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    void BulkLoop() {
        FunctionFsPipes pipes(*m_gadget, [this] { return m_stop || m_resets.load() != m_commandGeneration; });
        BulkOnlyDevice device(pipes, [this](const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction) {
            return Execute(cdb, data, length, direction);
        });
        uint64_t seen = 0;
        bool waitForReset = false;
        while (!m_stop) {
            const uint64_t generation = m_resets.load();
            if (generation != seen) {
                device.Reset();
                seen = generation;
                waitForReset = false;
            }
            m_commandGeneration = generation;
            m_acknowledged = generation;
            if (waitForReset) {
                std::unique_lock lock(m_waitMutex);
                m_resetArrived.wait(lock, [&] { return m_stop || m_resets.load() != generation; });
                continue;
            }
            CommandBlockWrapper cbw;
            CbwCheck check = CbwCheck::Valid;
            if (!device.ReceiveCommand(cbw, check)) {
                if (!m_stop && m_resets.load() == generation) std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            ++m_stats.commands;
            const uint64_t number = m_stats.commands;
            const std::string cdbText = HexBytes(cbw.cdb.data(), std::min<size_t>(cbw.cdbLength, 16));
            if (check == CbwCheck::Valid && m_filter.Matches(cbw.cdb)) {
                ++m_counted;
                if (m_counted == m_options.vanishAt) {
                    Log("command #" + std::to_string(number) + " (" + cdbText + "): the drive vanishes (unbound from " +
                        m_gadget->Udc() + ")");
                    m_gadget->Unbind();
                    waitForReset = true;
                    continue;
                }
                if (m_counted == m_options.stopAnsweringAt) {
                    Log("command #" + std::to_string(number) + " (" + cdbText +
                        "): the drive stops answering until the host resets it");
                    waitForReset = true;
                    continue;
                }
                if (m_counted == m_options.holdAnswerAt && HoldAnswer(cbw, number, cdbText)) {
                    waitForReset = true;
                    continue;
                }
            }
            if (check == CbwCheck::Valid && cbw.cdb[0] == kOpTestUnitReady && m_heldPolls > 0 &&
                HoldAnswer(cbw, number, cdbText)) {
                --m_heldPolls;
                waitForReset = true;
                continue;
            }
            const int triggersBefore = m_drive.TriggersAccepted();
            const CommandOutcome outcome = device.Serve(cbw, check);
            if (m_drive.TriggersAccepted() != triggersBefore) m_heldPolls = m_options.holdPollsAfterTrigger;
            Record(number, cdbText, outcome);
            if (check == CbwCheck::Invalid) waitForReset = true;
        }
    }

    // A command without a data stage that the drive carries out at once and
    // answers only when the host has given up on it: the answer is dropped at
    // the host's reset. A drive that starts programming at the trigger may
    // not finish the command's status in time; a drive that programs may not
    // answer its first polls.
    bool HoldAnswer(const CommandBlockWrapper& cbw, uint64_t number, const std::string& cdbText) {
        if (cbw.dataTransferLength != 0) return false;
        const int triggersBefore = m_drive.TriggersAccepted();
        const ScsiResult result = Execute(cbw.cdb.data(), nullptr, 0, kDirectionNone);
        Log("command #" + std::to_string(number) + " (" + cdbText + "): carried out (status " +
            std::to_string(result.scsiStatus) + "), its answer held until the host resets the drive");
        if (m_drive.TriggersAccepted() != triggersBefore) m_heldPolls = m_options.holdPollsAfterTrigger;
        return true;
    }

    void Record(uint64_t number, const std::string& cdbText, const CommandOutcome& outcome) {
        const CommandBlockWrapper& cbw = outcome.cbw;
        const uint32_t length = cbw.dataTransferLength;
        if (length > 0) {
            uint32_t& largest = cbw.dataIn ? m_stats.largestIn : m_stats.largestOut;
            largest = std::max(largest, length);
            if (length % 512 != 0) ++m_stats.oddLengths;
        }
        if (outcome.cswStatus == kCswFailed) ++m_stats.failed;
        if (outcome.senseFromKept) ++m_stats.senseRequests;
        const bool notable = outcome.check != CbwCheck::Valid || outcome.cswStatus == kCswPhaseError || !outcome.completed;
        if (outcome.cswStatus == kCswPhaseError) ++m_stats.phaseErrors;
        if (!m_options.verbose && !notable) return;
        char line[160];
        std::snprintf(line, sizeof line, "#%llu %s %s %u: CSW %u residue %u%s%s%s%s",
                      static_cast<unsigned long long>(number), cdbText.c_str(),
                      length == 0 ? "none" : (cbw.dataIn ? "in" : "out"), length, outcome.cswStatus, outcome.residue,
                      outcome.haltedIn ? ", bulk-in halted" : "", outcome.haltedOut ? ", bulk-out halted" : "",
                      outcome.check == CbwCheck::Invalid      ? ", invalid CBW"
                      : outcome.check == CbwCheck::NotMeaningful ? ", CBW not meaningful"
                                                                  : "",
                      outcome.completed ? "" : ", cut off");
        std::string text = line;
        if (outcome.cswStatus == kCswFailed) {
            char sense[48];
            std::snprintf(sense, sizeof sense, ", sense %X/%02X/%02X kept", outcome.sense[2], outcome.sense[12],
                          outcome.sense[13]);
            text += sense;
        }
        if (outcome.senseFromKept) text += ", answered with the kept sense";
        Log(text);
    }

    void Stop() {
        m_stop = true;
        if (m_gadget) m_gadget->Unbind();
        {
            const std::lock_guard lock(m_waitMutex);
        }
        m_resetArrived.notify_all();
        for (std::thread* thread : {&m_bulk, &m_control}) {
            if (!thread->joinable()) continue;
            // Wake it from a blocked transfer until it has seen the stop.
            std::atomic<bool> done{false};
            std::thread waker([&] {
                while (!done) {
                    ::pthread_kill(thread->native_handle(), SIGUSR2);
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            });
            // The waker only signals while the thread still runs: join ends it.
            thread->join();
            done = true;
            waker.join();
        }
    }

    void PrintSummary() {
        char line[256];
        std::snprintf(line, sizeof line,
                      "served %llu commands: %llu with CSW status 1, %llu REQUEST SENSE answered with the kept sense, "
                      "%llu phase errors, %llu Bulk-Only resets, %llu USB resets or disables; largest data-out %u, "
                      "data-in %u bytes; %llu data stages not a multiple of 512 bytes",
                      static_cast<unsigned long long>(m_stats.commands), static_cast<unsigned long long>(m_stats.failed),
                      static_cast<unsigned long long>(m_stats.senseRequests),
                      static_cast<unsigned long long>(m_stats.phaseErrors),
                      static_cast<unsigned long long>(m_stats.bulkOnlyResets.load()),
                      static_cast<unsigned long long>(m_stats.disables.load()), m_stats.largestOut, m_stats.largestIn,
                      static_cast<unsigned long long>(m_stats.oddLengths));
        Log(line);
    }

    struct Stats {
        uint64_t commands = 0;
        uint64_t failed = 0;
        uint64_t senseRequests = 0;
        uint64_t phaseErrors = 0;
        uint64_t oddLengths = 0;
        uint32_t largestOut = 0;
        uint32_t largestIn = 0;
        std::atomic<uint64_t> bulkOnlyResets{0};
        std::atomic<uint64_t> disables{0};
    };

    const Options& m_options;
    CommandFilter m_filter;
    VirtualClock m_clock;
    SimulatedDrive m_drive;
    std::mutex m_driveMutex;
    std::mutex m_logMutex;
    const std::chrono::steady_clock::time_point m_start;
    std::unique_ptr<FunctionFsGadget> m_gadget;
    std::thread m_control;
    std::thread m_bulk;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_resets{0};
    uint64_t m_heldPolls = 0;  // TEST UNIT READYs still to hold after the last trigger taken
    std::atomic<uint64_t> m_acknowledged{0};
    uint64_t m_commandGeneration = 0;  // bulk thread only
    std::mutex m_waitMutex;
    std::condition_variable m_resetArrived;
    uint64_t m_counted = 0;
    Stats m_stats;
};

std::string ProfilesHelp() {
    std::string text = "Profiles (the drive of --simulate=NAME; machine faults of a profile do not apply here):\n";
    for (const SimulatedProfile& profile : SimulatedProfiles()) {
        text += "  " + profile.name + std::string(profile.name.size() < 18 ? 18 - profile.name.size() : 1, ' ') +
                profile.description + "\n";
    }
    return text +
           "\nNeeds root and the modules: modprobe -a dummy_hcd libcomposite usb_f_fs usb-storage sg sr_mod\n"
           "SIGUSR1 writes the drive's flash to --flash-file; so does stopping it.\n";
}

}  // namespace
}  // namespace keluflash::virtual_drive

int main(int argc, char** argv) {
    using namespace keluflash;
    using namespace keluflash::virtual_drive;
    // Named here: the usage line names the program, not the path it was started by.
    CLI::App app{"keluflash-virtual-drive: a simulated KELU drive attached to this Linux kernel as a USB optical "
                 "drive (FunctionFS on dummy_hcd), served until stopped",
                 "keluflash-virtual-drive"};
    app.set_version_flag("--version", "keluflash-virtual-drive " KELUFLASH_VERSION, "Print the version and exit");
    Options options;
    app.add_option("--profile", options.profile, "The simulated drive, by the names of keluflash-cli --simulate")
        ->default_val("default");
    app.add_option("--drive", options.drive, "Which drive of the profile (from 0)")->default_val(0);
    app.add_option("--flash-file", options.flashFile, "Write the drive's flash here on SIGUSR1 and when stopped")
        ->type_name("FILE");
    app.add_option("--stop-answering-at", options.stopAnsweringAt,
                   "At the Nth counted command the drive stops answering until the host resets it")
        ->type_name("N");
    app.add_option("--vanish-at", options.vanishAt,
                   "At the Nth counted command the drive vanishes: the gadget is unbound from the controller")
        ->type_name("N");
    app.add_option("--hold-answer-at", options.holdAnswerAt,
                   "The Nth counted command (one without data) is carried out, and its answer held until the host "
                   "resets the drive")
        ->type_name("N");
    app.add_option("--hold-polls-after-trigger", options.holdPollsAfterTrigger,
                   "The first N TEST UNIT READYs after the drive takes a trigger are answered only when the host "
                   "resets the drive")
        ->type_name("N");
    app.add_option("--programming-seconds", options.programmingSeconds,
                   "How long the drive programs its flash after a trigger (NOT READY meanwhile; the profile's own "
                   "time otherwise)")
        ->type_name("N");
    app.add_option("--counting", options.counting,
                   "Count only these commands for the faults: an opcode, or a vendor command as 5A/SUB (5A/A0)")
        ->type_name("OP[/SUB]");
    app.add_option("--udc", options.udc, "The USB device controller (default: the first dummy_udc)");
    app.add_flag("--verbose,-v", options.verbose, "Log every command with its CSW");
    app.footer(ProfilesHelp());
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    const SimulatedProfile* profile = FindSimulatedProfile(options.profile);
    if (profile == nullptr || options.drive < 0 ||
        static_cast<size_t>(options.drive) >= profile->config.drives.size()) {
        std::cerr << "keluflash-virtual-drive: no drive " << options.drive << " in a profile \"" << options.profile
                  << "\" (see --help)\n";
        return kExitUsage;
    }
    const std::optional<CommandFilter> filter = ParseFilter(options.counting);
    if (!filter) {
        std::cerr << "keluflash-virtual-drive: --counting takes an opcode or 5A/SUB in hexadecimal, not \""
                  << options.counting << "\"\n";
        return kExitUsage;
    }
    SimulatedDriveConfig config = profile->config.drives[static_cast<size_t>(options.drive)];
    // Real time only: the drive's own per-command costs would run ahead of it.
    config.commandMilliseconds = 0;
    config.transferBytesPerMillisecond = UINT32_MAX;
    config.recordDataOut = false;
    if (options.programmingSeconds) config.programmingMilliseconds = *options.programmingSeconds * 1000;

    // Stop and flash-file signals are taken by the main thread alone; SIGUSR2
    // only wakes a thread from a blocked transfer.
    sigset_t handled = VirtualDrive::HandledSignals();
    ::pthread_sigmask(SIG_BLOCK, &handled, nullptr);
    struct sigaction wake {};
    wake.sa_handler = WakeOnly;
    sigemptyset(&wake.sa_mask);
    ::sigaction(SIGUSR2, &wake, nullptr);

    VirtualDrive drive(options, std::move(config), *filter);
    return drive.Run();
}
