#include "Dictation.h"
#include "PhoneClient.h"
#include "PhoneNumber.h"
#include "RandomSource.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace tellwire;

namespace {

const char* usage =
    "usage: tellwire-phone [--relay ORIGIN] --phone NUMBER [--code CODE] [--pace MS] [--say TEXT]\n"
    "                      [--ca-cert FILE]\n"
    "  --relay ORIGIN  the relay (default $TELLWIRE_RELAY_ORIGIN, else http://127.0.0.1:8787)\n"
    "  --phone NUMBER  mainland-China mobile number, e.g. 13800138000\n"
    "  --code CODE     the sign-in code (asked on the terminal when not given)\n"
    "  --pace MS       milliseconds between events (default 120)\n"
    "  --say TEXT      dictate TEXT and exit, instead of reading lines from standard input\n"
    "  --ca-cert FILE  trust this certificate for an HTTPS relay\n";

struct Options {
    std::string relay;
    std::string phone;
    std::optional<std::string> code;
    std::optional<std::string> say;
    std::string caCertificate;
    std::chrono::milliseconds pace{120};
};

[[noreturn]] void fail(const std::string& message, int status = 1)
{
    std::cerr << "tellwire-phone: " << message << "\n";
    if (status == 2)
        std::cerr << usage;
    std::exit(status);
}

Options parse(int argc, char** argv)
{
    Options options;
    const char* origin = std::getenv("TELLWIRE_RELAY_ORIGIN");
    options.relay = origin && *origin ? origin : "http://127.0.0.1:8787";
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "-h" || option == "--help") {
            std::cout << usage;
            std::exit(0);
        }
        if (option != "--relay" && option != "--phone" && option != "--code" && option != "--pace"
            && option != "--say" && option != "--ca-cert")
            fail("unknown option " + option, 2);
        if (i + 1 >= argc)
            fail(option + " needs a value", 2);
        const std::string value = argv[++i];
        if (option == "--relay") {
            options.relay = value;
        } else if (option == "--phone") {
            options.phone = value;
        } else if (option == "--code") {
            options.code = value;
        } else if (option == "--say") {
            options.say = value;
        } else if (option == "--ca-cert") {
            options.caCertificate = value;
        } else {
            int ms = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), ms);
            if (error != std::errc() || end != value.data() + value.size() || ms < 0 || ms > 60000)
                fail("--pace wants milliseconds from 0 to 60000", 2);
            options.pace = std::chrono::milliseconds(ms);
        }
    }
    if (options.phone.empty())
        fail("--phone NUMBER is required", 2);
    if (!accountNumber(options.phone))
        fail("\"" + options.phone + "\" is not a mainland-China mobile number (e.g. 13800138000)", 2);
    return options;
}

bool isSixDigits(const std::string& code)
{
    return code.size() == 6 && std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Standard input carries the lines to dictate, so the code is asked for on the
// terminal itself.
std::string askForCode(const std::string& phone)
{
    std::ifstream in("/dev/tty");
    std::ofstream out("/dev/tty");
    if (!in || !out)
        fail("no terminal to ask for the code on; pass --code");
    out << "Code for " << phone << " (printed on the relay's console): " << std::flush;
    std::string code;
    if (!std::getline(in, code))
        fail("no code was entered");
    code.erase(0, code.find_first_not_of(" \t"));
    code.erase(code.find_last_not_of(" \t\r") + 1);
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    if (options.code && !isSixDigits(*options.code))
        fail("the code must be 6 digits", 2);
    try {
        PhoneClient client(options.relay, options.caCertificate);
        client.requestCode(options.phone);
        const std::string code = options.code ? *options.code : askForCode(options.phone);
        if (!isSixDigits(code))
            fail("the code must be 6 digits");
        client.signIn(options.phone, code, "phone-" + RandomSource::hex(8));

        Dictation dictation(client, options.pace);
        if (options.say) {
            dictation.say(*options.say);
        } else {
            std::cerr << "signed in as the phone of " << options.phone
                      << "; each line typed is dictated, Ctrl-D ends\n";
            std::string line;
            while (std::getline(std::cin, line))
                dictation.say(line);
        }
        dictation.end();
        std::cout << "dictated " << dictation.events() << " events to " << options.relay << "\n";
    } catch (const PhoneError& error) {
        fail(error.what());
    }
    return 0;
}
