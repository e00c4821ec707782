#include "options.hpp"

#include "errors.hpp"
#include "text.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace boardsim {

std::string Endpoint::text() const {
    const std::string p = std::to_string(port);
    return v6 ? "[" + host + "]:" + p : host + ":" + p;
}

Endpoint parseEndpoint(std::string_view text) {
    const auto bad = [&](const std::string& why) {
        return UsageError("bad --listen '" + std::string(text) + "': " + why);
    };
    Endpoint ep;
    std::string_view portText;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            throw bad("expected [IPV6]:PORT");
        }
        ep.host = std::string(text.substr(1, close - 1));
        ep.v6 = true;
        portText = text.substr(close + 2);
        in6_addr a6{};
        if (inet_pton(AF_INET6, ep.host.c_str(), &a6) != 1) {
            throw bad("not an IPv6 address");
        }
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string_view::npos) {
            throw bad("expected ADDRESS:PORT");
        }
        ep.host = std::string(text.substr(0, colon));
        portText = text.substr(colon + 1);
        in_addr a4{};
        if (inet_pton(AF_INET, ep.host.c_str(), &a4) != 1) {
            throw bad("not a numeric IPv4 address (write IPv6 as [ADDRESS]:PORT)");
        }
    }
    std::uint64_t port = 0;
    try {
        port = parseCount(portText, "port");
    } catch (const UsageError&) {
        throw bad("port is not a number");
    }
    if (port > 65535) {
        throw bad("port is above 65535");
    }
    ep.port = static_cast<std::uint16_t>(port);
    return ep;
}

std::string usageText() {
    return R"(usage: boardsim [--listen ADDRESS:PORT] [--cycles LETTERS] [--fault WHEN:ACTION]...
                [--answer-delay MS] [--log FILE] [--once]
       boardsim --write-alarm PATH
       boardsim --help

A simulated board for the monitor: answers switch (1), motion (2), LED on (3), LED off (4) and
keep-alive (5) requests over one TCP connection at a time.

  --listen ADDRESS:PORT  where to listen (default 127.0.0.1:8888; port 0 picks one; IPv6 as
                         [::1]:0). Prints "listening on ADDRESS:PORT" on stdout once ready.
  --cycles LETTERS       one letter per switch query: M on with motion, o on, . off; off once
                         the letters run out (default oMMo.). @FILE reads the letters from a
                         file (# starts a comment).
  --fault WHEN:ACTION    WHEN is the request line number (from 1) or 'accept'. ACTION is one of
                         delay=MS answer=TEXT badsum lf cr split=K@MS trickle=MS extra=TEXT
                         raw=TEXT flood=BYTES bigline=BYTES silent close reset.
                         TEXT knows \r \n \\ \0 \xHH; BYTES takes K, M or G.
  --answer-delay MS      wait MS ms before handling each request line (default 0)
  --log FILE             the exchange log (default - for stderr)
  --once                 exit after the first connection ends
  --write-alarm PATH     write the alarm WAV to PATH (never over an existing file) and exit
)";
}

Options parseArgs(const std::vector<std::string>& args) {
    Options o;
    bool serveOption = false;
    std::string cyclesArg;
    bool cyclesGiven = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string name = arg;
        std::string value;
        bool inlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
                inlineValue = true;
            }
        }
        const auto takeValue = [&]() -> std::string {
            if (inlineValue) {
                return value;
            }
            if (i + 1 >= args.size()) {
                throw UsageError(name + " needs a value");
            }
            return args[++i];
        };
        const auto noValue = [&] {
            if (inlineValue) {
                throw UsageError(name + " takes no value");
            }
        };

        if (name == "--help" || name == "-h") {
            noValue();
            o.mode = Options::Mode::Help;
            return o;
        }
        if (name == "--listen") {
            o.listen = parseEndpoint(takeValue());
            serveOption = true;
        } else if (name == "--cycles") {
            cyclesArg = takeValue();
            cyclesGiven = true;
            serveOption = true;
        } else if (name == "--fault") {
            o.faults.add(parseFault(takeValue()));
            serveOption = true;
        } else if (name == "--answer-delay") {
            o.answerDelayMs = parseMillis(takeValue(), "--answer-delay");
            serveOption = true;
        } else if (name == "--log") {
            o.logPath = takeValue();
            if (o.logPath.empty()) {
                throw UsageError("--log needs a file name (or - for stderr)");
            }
            serveOption = true;
        } else if (name == "--once") {
            noValue();
            o.once = true;
            serveOption = true;
        } else if (name == "--write-alarm") {
            o.alarmPath = takeValue();
            if (o.alarmPath.empty()) {
                throw UsageError("--write-alarm needs a path");
            }
            o.mode = Options::Mode::WriteAlarm;
        } else if (arg.rfind("-", 0) == 0) {
            throw UsageError("unknown option '" + arg + "' (see --help)");
        } else {
            throw UsageError("unexpected argument '" + arg + "' (see --help)");
        }
    }

    if (o.mode == Options::Mode::WriteAlarm && serveOption) {
        throw UsageError("--write-alarm writes the file and exits; it takes no other option");
    }
    if (cyclesGiven) {
        if (!cyclesArg.empty() && cyclesArg.front() == '@') {
            o.cycles = loadCyclesFile(cyclesArg.substr(1));
        } else {
            try {
                o.cycles = parseCycles(cyclesArg);
            } catch (const UsageError& e) {
                throw UsageError(std::string(e.what()) + " in --cycles");
            }
        }
    }
    return o;
}

} // namespace boardsim
