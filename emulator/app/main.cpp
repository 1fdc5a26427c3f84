// kvtoken-emu: a Kelvane token behind the vpcd virtual reader.
#include "card.h"
#include "hostile.h"
#include "vpcdLink.h"

#include <poll.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>

namespace {

using namespace kvtoken;

constexpr int exitOk = 0;
constexpr int exitFailure = 1;  // at run time: no reader, a broken connection
constexpr int exitUsage = 2;    // a bad option or profile

const char usage[] =
    "usage: kvtoken-emu [--profile FILE] [--hostile SEED [--hostile-rate PERCENT]] [--port N]\n"
    "                   [--host H] [--trace] [--connect-timeout SECONDS]\n"
    "  Plays a Kelvane token in the vpcd reader at H:N (default 127.0.0.1:35963)\n"
    "  until SIGINT or SIGTERM. Without --profile: a healthy Kelvane Mirel 3.0.\n"
    "  --hostile: answers as a broken token would, drawn at random from SEED\n"
    "  (0 to 18446744073709551615); the profile is the token it distorts.\n"
    "  --hostile-rate: the percentage of answers distorted (default: from SEED).\n"
    "  --trace writes every command and answer in hex to standard error.\n"
    "  --connect-timeout: how long to keep trying to reach vpcd (default 5).\n";

struct Options {
    std::optional<std::string> profile;
    std::optional<uint64_t> hostileSeed;
    std::optional<unsigned> hostileRate;
    std::string host = "127.0.0.1";
    int port = 35963;
    bool trace = false;
    int connectSeconds = 5;
    bool help = false;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

template <typename Number>
Number parseNumber(const std::string& option, const std::string& text, Number low, Number high)
{
    Number value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        throw UsageError(option + " takes a number from " + std::to_string(low) + " to " + std::to_string(high));
    return value;
}

Options parseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "-h" || option == "--help") {
            options.help = true;
            continue;
        }
        if (option == "--trace") {
            options.trace = true;
            continue;
        }
        if (option != "--profile" && option != "--port" && option != "--host" && option != "--connect-timeout" &&
            option != "--hostile" && option != "--hostile-rate")
            throw UsageError("unknown option " + option);
        if (i + 1 == argc)
            throw UsageError(option + " needs a value");
        const std::string value = argv[++i];
        if (option == "--profile")
            options.profile = value;
        else if (option == "--host")
            options.host = value;
        else if (option == "--port")
            options.port = parseNumber(option, value, 1, 65535);
        else if (option == "--hostile")
            options.hostileSeed = parseNumber(option, value, uint64_t{0}, std::numeric_limits<uint64_t>::max());
        else if (option == "--hostile-rate")
            options.hostileRate = parseNumber(option, value, 0u, 100u);
        else
            options.connectSeconds = parseNumber(option, value, 0, 3600);
    }
    if (options.hostileRate && !options.hostileSeed)
        throw UsageError("--hostile-rate needs --hostile");
    return options;
}

std::string endpoint(const Options& options)
{
    return options.host + ":" + std::to_string(options.port);
}

// A hostile card's answers carry what was done to them: "< 6C 12 (6Cxx storm)".
void trace(const Bytes& message, const std::optional<Bytes>& answer, const HostileCard* hostile)
{
    const auto note = [hostile] {
        if (!hostile || hostile->lastDistortion() == Distortion::none)
            return std::string();
        return " (" + std::string(distortionName(hostile->lastDistortion())) + ")";
    };
    if (message.size() > 1) {
        std::cerr << "> " << formatHex(message) << "\n< " << (answer ? formatHex(*answer) : "nothing") << note()
                  << '\n';
        return;
    }
    static const char* const controls[] = {"power off", "power on", "reset"};
    if (message.size() == 1 && message[0] < std::size(controls))
        std::cerr << "* " << controls[message[0]] << '\n';
    if (message.size() == 1 && message[0] == 0x04 && hostile && hostile->lastDistortion() == Distortion::atr)
        std::cerr << "* ATR " << formatHex(*answer) << note() << '\n';
}

// Keeps trying for the connect timeout; pcscd may not listen yet when the
// token is started together with it.
std::optional<VpcdConnection> connectToReader(const Options& options, const StopSignals& stop, bool& stopped)
{
    constexpr auto pause = std::chrono::milliseconds(100);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.connectSeconds);
    std::string error;
    for (;;) {
        if (auto connection = VpcdConnection::open(options.host, options.port, error))
            return connection;
        if (std::chrono::steady_clock::now() + pause > deadline) {
            std::cerr << "kvtoken-emu: cannot connect to vpcd at " << endpoint(options) << " (" << error
                      << "); is pcscd running with the vpcd reader?\n";
            return std::nullopt;
        }
        if (stop.wait(pause)) {
            stopped = true;
            return std::nullopt;
        }
    }
}

enum class Outcome { stopped, readerGone, restarting };

// A card that leaves the reader (a restart, or a hostile card vanishing)
// says for how long in `absence`.
Outcome serve(CardInReader& card, VpcdConnection& connection, const StopSignals& stop, const HostileCard* hostile,
              bool tracing, std::chrono::milliseconds& absence)
{
    for (;;) {
        pollfd watched[2] = {{stop.fd(), POLLIN, 0}, {connection.fd(), POLLIN, 0}};
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error(std::string("waiting for vpcd: ") + std::strerror(errno));
        }
        if ((watched[0].revents & POLLIN) && stop.takeRequest())
            return Outcome::stopped;
        const auto message = connection.receive();
        if (!message)
            return Outcome::readerGone;
        const auto answer = card.receive(*message);
        if (tracing)
            trace(*message, answer, hostile);
        if (answer && !connection.send(*answer))
            return Outcome::readerGone;
        if (const auto departure = card.takeDeparture()) {
            absence = *departure;
            return Outcome::restarting;
        }
    }
}

// Closing the connection is the token's removal; a reader that goes away
// (pcscd restarted) gets the token back when it returns. A restart the host
// asked for is a removal too: the token comes back after its restart delay,
// with what it was before apart from what ends with the power.
int run(const Options& options, TokenProfile profile)
{
    std::unique_ptr<CardInReader> card;
    HostileCard* hostile = nullptr;
    if (options.hostileSeed) {
        auto hostileCard = std::make_unique<HostileCard>(std::move(profile), *options.hostileSeed, options.hostileRate);
        hostile = hostileCard.get();
        if (options.trace)
            std::cerr << "* hostile: seed " << *options.hostileSeed << ", " << hostile->ratePercent()
                      << "% of answers distorted\n";
        card = std::move(hostileCard);
    } else {
        card = std::make_unique<Card>(std::move(profile));
    }
    const StopSignals stop;
    for (;;) {
        bool stopped = false;
        auto connection = connectToReader(options, stop, stopped);
        if (stopped)
            return exitOk;
        if (!connection)
            return exitFailure;
        std::chrono::milliseconds absence{0};
        const Outcome outcome = serve(*card, *connection, stop, hostile, options.trace, absence);
        connection.reset();
        card->unplug();
        if (outcome == Outcome::stopped)
            return exitOk;
        if (outcome == Outcome::readerGone) {
            std::cerr << "kvtoken-emu: vpcd at " << endpoint(options) << " closed the connection; reconnecting\n";
            continue;
        }
        if (options.trace)
            std::cerr << "* restart: removed for " << absence.count() << " ms\n";
        if (stop.wait(absence))
            return exitOk;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    TokenProfile profile;
    try {
        options = parseOptions(argc, argv);
        if (options.help) {
            std::cout << usage;
            return exitOk;
        }
        profile = options.profile ? loadProfile(*options.profile) : defaultProfile();
    } catch (const UsageError& e) {
        std::cerr << "kvtoken-emu: " << e.what() << '\n' << usage;
        return exitUsage;
    } catch (const std::exception& e) {
        std::cerr << "kvtoken-emu: " << e.what() << '\n';
        return exitUsage;
    }
    try {
        return run(options, std::move(profile));
    } catch (const std::exception& e) {
        std::cerr << "kvtoken-emu: " << e.what() << '\n';
        return exitFailure;
    }
}
