#include "RelayCommandLine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <tuple>

namespace tellwire {

namespace {

std::optional<int> parsePort(std::string_view text)
{
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port < 0 || port > 65535)
        return std::nullopt;
    return port;
}

std::optional<std::chrono::milliseconds> parseSeconds(const std::string& text)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '.'; }))
        return std::nullopt;
    try {
        std::size_t used = 0;
        const double seconds = std::stod(text, &used);
        if (used != text.size() || !std::isfinite(seconds) || seconds < 0 || seconds * 1000 > maximumHold.count())
            return std::nullopt;
        return std::chrono::milliseconds(std::llround(seconds * 1000));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// HOST:PORT, or the sentence saying what is wrong with it.
std::variant<std::pair<std::string, int>, std::string> parseAddress(const std::string& option, const std::string& value)
{
    const auto colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return option + " wants HOST:PORT, e.g. 127.0.0.1:8787";
    const auto port = parsePort(std::string_view(value).substr(colon + 1));
    if (!port)
        return option + ": the port must be a number from 0 to 65535";
    std::string host = value.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return std::pair{host, *port};
}

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The options a configuration file holds, as if given on the command line:
// "name = value" lines for the long options, "log-requests = true", and
// comments after "#"; or the sentence saying what is wrong with the file.
std::variant<std::vector<std::string>, std::string> configuration(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
        return "--config: cannot read " + path;
    std::vector<std::string> options;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        line = trimmed(line.substr(0, line.find('#')));
        if (line.empty())
            continue;
        const auto equals = line.find('=');
        const std::string name = trimmed(line.substr(0, equals)), value = trimmed(line.substr(equals + 1));
        if (equals == std::string::npos || name.empty() || name == "config")
            return path + ":" + std::to_string(number) + ": expected NAME = VALUE";
        if (name == "log-requests" && value != "true" && value != "false")
            return path + ":" + std::to_string(number) + ": log-requests is true or false";
        if (name == "log-requests")
            options.insert(options.end(), value == "true" ? 1 : 0, "--log-requests");
        else
            options.insert(options.end(), {"--" + name, value});
    }
    return options;
}

} // namespace

bool RelayCommandLine::isLoopback(const std::string& host)
{
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

const char* RelayCommandLine::usage()
{
    return "usage: tellwire-relay [--listen HOST:PORT] [--code NNNNNN] [--hold SECONDS]\n"
           "                      [--tls-cert FILE --tls-key FILE] [--state DIR] [--lan HOST:PORT]\n"
           "                      [--sms-command PROGRAM] [--log-requests] [--store redis://HOST:PORT[/DB]]\n"
           "                      [--config FILE]\n"
           "  --listen HOST:PORT  address to listen on (default 127.0.0.1:8787; port 0 picks a free port);\n"
           "                      off loopback it serves HTTPS only\n"
           "  --lan HOST:PORT     also listen here, HTTPS only, for phones on this machine's networks\n"
           "                      (e.g. 0.0.0.0:8788)\n"
           "  --code NNNNNN       issue this code on every request instead of a random one (loopback only)\n"
           "  --hold SECONDS      hold an events request with nothing new this long (default 20, at most 24)\n"
           "  --tls-cert FILE     serve HTTPS with this PEM certificate (default off loopback: one made\n"
           "                      at first start in the state folder) ...\n"
           "  --tls-key FILE      ... and this PEM private key\n"
           "  --sms-command PROGRAM  text each code: PROGRAM NUMBER CODE, no shell (default: the console)\n"
           "  --log-requests      print each request as it arrives (method, path, cursor; never tokens or text)\n"
           "  --state DIR         keep accounts and sign-ins here (default $XDG_STATE_HOME/tellwire-relay,\n"
           "                      else ~/.local/state/tellwire-relay)\n"
           "  --config FILE       read options from FILE, one \"name = value\" a line (e.g. \"hold = 20\");\n"
           "                      options after it on the command line take precedence\n"
           "  --store redis://HOST:PORT[/DB]  share accounts, codes and events with every relay on this\n"
           "                      Redis (default: the state folder's own database)\n";
}

std::variant<RelayCommandLine, std::string> RelayCommandLine::parse(const std::vector<std::string>& given)
{
    std::vector<std::string> args = given;
    RelayCommandLine line;
    std::optional<std::string> cert, key;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "-h" || option == "--help") {
            line.help = true;
            continue;
        }
        if (option == "--log-requests") {
            line.logRequests = true;
            continue;
        }
        if (option == "--config" && i + 1 < args.size()) {
            const auto options = configuration(args[i + 1]);
            if (const auto* problem = std::get_if<std::string>(&options))
                return *problem;
            const auto& read = std::get<std::vector<std::string>>(options);
            args.insert(args.begin() + std::ptrdiff_t(i + 2), read.begin(), read.end());
            ++i;
            continue;
        }
        if (option != "--listen" && option != "--code" && option != "--hold" && option != "--tls-cert"
            && option != "--tls-key" && option != "--state" && option != "--lan"
            && option != "--sms-command" && option != "--store")
            return "unknown option " + option;
        if (i + 1 >= args.size())
            return option + " needs a value";
        const std::string& value = args[++i];
        if (option == "--listen" || option == "--lan") {
            const auto address = parseAddress(option, value);
            if (const auto* problem = std::get_if<std::string>(&address))
                return *problem;
            if (option == "--lan")
                line.lan = std::get<0>(address);
            else
                std::tie(line.host, line.port) = std::get<0>(address);
        } else if (option == "--code") {
            if (value.size() != 6 || !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
                return "--code wants exactly 6 digits";
            line.fixedCode = value;
        } else if (option == "--hold") {
            const auto hold = parseSeconds(value);
            if (!hold)
                return "--hold wants a number of seconds from 0 to 24";
            line.hold = *hold;
        } else if (option == "--sms-command") {
            if (value.empty())
                return "--sms-command wants a program";
            line.smsCommand = value;
        } else if (option == "--store") {
            line.redis = RedisAddress::parse(value);
            if (!line.redis)
                return "--store wants redis://HOST:PORT or redis://HOST:PORT/DB (DB 0 to 15)";
        } else if (option == "--state") {
            if (value.empty())
                return "--state wants a folder";
            line.stateDir = value;
        } else if (option == "--tls-cert") {
            cert = value;
        } else {
            key = value;
        }
    }
    if (cert.has_value() != key.has_value())
        return "--tls-cert and --tls-key go together";
    // A code anyone may use must not be offered to the network.
    if (line.fixedCode && (!isLoopback(line.host) || line.lan))
        return "--code is only for a relay on loopback alone";
    if (cert)
        line.tls = TlsFiles{*cert, *key};
    return line;
}

} // namespace tellwire
