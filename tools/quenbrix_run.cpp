// quenbrix-run: a small reference host. It loads a Quenbrix plugin as the Quenbrix environment
// does and runs a script against it; the statements are in kStatements below.
//
// Usage: quenbrix-run [-v] [--plugin PATH] SCRIPT   (default: the plugin beside this program)
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "quenbrix_host.h"
#include "stop_signal.h"
#include "unicode.h"

namespace {

using quenbrix::PluginHost;
using quenbrix::Registration;
using quenbrix::Value;
using sidtune::stopSignal;

const std::string kStatements =
    std::string(
        "A script is one statement a line:\n"
        "  ' a comment                          from ' to the end of the line, outside strings\n"
        "  ok = PlaySidtune(\"music/tune.sid\")   a registered function; its result goes into a variable\n"
        "  SetSidVolume 0.5                     a registered procedure; arguments separated by commas\n"
        "  name = \"say \"\"hi\"\"\"                  a variable; \"\" in a string is one quote\n"
        "  Print ok                             prints a variable, number or string\n"
        "  Wait 1500                            milliseconds, 0 to 2147483647\n"
        "Numbers: 5, -2, 0.5, 1e3. Names of commands and variables are not case-sensitive. That is all: "
        "no If, no loops, no arithmetic. The script runs from top to bottom, to try the plugin's commands as "
        "Quenbrix calls them; Quenbrix itself has the whole language.\n"
        "\n"
        "Example: quenbrix-run demo.qb (in the examples folder, beside demo.sid)\n"
        "\n"
        "Exit codes: 0 done; 1 a script error (file:line: message) or a script that cannot be read; "
        "2 a usage error, or the plugin did not load (its error text on stderr); ") +
    sidtune::kStoppedExitCodes + ".";
// The longest Wait, in milliseconds: the largest Quenbrix integer.
constexpr double kLongestWait = 2147483647.0;

struct ScriptError {
    std::string message;
};

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// One line of the script, read left to right.
class Line {
  public:
    explicit Line(const std::string& text) : s(text) {}

    void skipSpace() {
        while (at < s.size() && std::isspace(static_cast<unsigned char>(s[at]))) ++at;
    }
    bool atEnd() {
        skipSpace();
        return at >= s.size();
    }
    bool take(char c) {
        skipSpace();
        if (at < s.size() && s[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
    std::string identifier() {
        skipSpace();
        const size_t start = at;
        if (at < s.size() && (std::isalpha(static_cast<unsigned char>(s[at])) || s[at] == '_')) {
            while (at < s.size() && (std::isalnum(static_cast<unsigned char>(s[at])) || s[at] == '_')) ++at;
        }
        return s.substr(start, at - start);
    }
    // A literal or a variable.
    Value value(const std::map<std::string, Value>& variables) {
        skipSpace();
        if (at >= s.size()) throw ScriptError{"a value is missing"};
        if (s[at] == '"') {
            // "" inside a string stands for one quote, as in BASIC.
            std::string text;
            for (++at;; ++at) {
                if (at >= s.size()) throw ScriptError{"a string is not closed"};
                if (s[at] == '"') {
                    if (at + 1 < s.size() && s[at + 1] == '"') {
                        text += '"';
                        ++at;
                        continue;
                    }
                    ++at;
                    return Value::ofText(text);
                }
                text += s[at];
            }
        }
        if (std::isdigit(static_cast<unsigned char>(s[at])) || s[at] == '-' || s[at] == '+' || s[at] == '.') {
            const size_t start = at;
            ++at;
            bool real = s[start] == '.';
            while (at < s.size()) {
                const char c = s[at];
                if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
                    real |= c == '.';
                } else if ((c == 'e' || c == 'E') && at + 1 < s.size() &&
                           (std::isdigit(static_cast<unsigned char>(s[at + 1])) ||
                            ((s[at + 1] == '-' || s[at + 1] == '+') && at + 2 < s.size() &&
                             std::isdigit(static_cast<unsigned char>(s[at + 2]))))) {
                    real = true;  // an exponent: 1e3, 2.5E-1
                    at += s[at + 1] == '-' || s[at + 1] == '+' ? 1 : 0;
                } else {
                    break;
                }
                ++at;
            }
            const std::string number = s.substr(start, at - start);
            try {
                size_t used = 0;
                if (real) {
                    const double d = std::stod(number, &used);
                    if (used == number.size()) return Value::ofReal(d);
                } else {
                    const double d = std::stod(number, &used);
                    if (used == number.size()) {
                        if (d >= INT32_MIN && d <= INT32_MAX)
                            return Value::ofInteger(int32_t(std::stoll(number)));
                        return Value::ofReal(d);  // beyond the integers: a real, as 2147483648.0 is
                    }
                }
            } catch (...) {
            }
            throw ScriptError{"not a number: " + number};
        }
        const std::string name = identifier();
        if (name.empty()) throw ScriptError{std::string("unexpected '") + s[at] + "'"};
        if (take('(')) throw ScriptError{"unknown function " + name};
        auto found = variables.find(lower(name));
        if (found == variables.end()) throw ScriptError{"variable " + name + " has no value"};
        return found->second;
    }

  private:
    std::string s;
    size_t at = 0;
};

// The script's text without its comment: a ' outside a string starts one.
std::string withoutComment(const std::string& line) {
    bool inString = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') inString = !inString;
        if (line[i] == '\'' && !inString) return line.substr(0, i);
    }
    return line;
}

class Interpreter {
  public:
    Interpreter(PluginHost& h, bool traceCommands, bool verboseCalls, bool unicodeScript)
        : host(h), trace(traceCommands), verbose(verboseCalls), unicode(unicodeScript) {}

    // Runs one statement; throws ScriptError.
    void run(const std::string& text) {
        Line line(withoutComment(text));
        if (line.atEnd()) return;
        const std::string first = line.identifier();
        if (first.empty()) throw ScriptError{"syntax error: a statement begins with a name"};
        const std::string keyword = lower(first);
        for (const char* control :
             {"if", "for", "next", "do", "loop", "while", "wend", "goto", "gosub", "end"}) {
            if (keyword == control)
                throw ScriptError{first +
                                  " is Quenbrix's, not quenbrix-run's: a script here runs from top to "
                                  "bottom, without If, loops or jumps (see --help)"};
        }
        if (keyword == "print") {
            const Value v = line.value(variables);
            expectEnd(line);
            std::printf("%s\n", v.toString().c_str());
            std::fflush(stdout);
            return;
        }
        if (keyword == "wait") {
            const Value v = line.value(variables);
            expectEnd(line);
            const double milliseconds = v.kind == Value::Integer ? double(v.integer) : v.real;
            if (v.kind == Value::Text || !(milliseconds >= 0 && milliseconds <= kLongestWait))
                throw ScriptError{"Wait takes 0 to 2147483647 milliseconds"};
            wait(milliseconds);
            return;
        }
        if (line.take('=')) {
            // variable = Function(arguments), or variable = value
            Line rest = line;
            const std::string name = rest.identifier();
            if (!name.empty() && host.find(name) != nullptr) {
                const Registration& command = *host.find(name);
                if (!command.function) throw ScriptError{command.name + " is a procedure and gives no value"};
                // A function without parameters may leave out its parentheses: n = SidtuneSongs
                const bool parenthesised = rest.take('(');
                if (!parenthesised && !(command.parameters.empty() && rest.atEnd()))
                    throw ScriptError{"syntax error: " + command.name + "(...) expected"};
                const std::vector<Value> arguments =
                    parenthesised ? argumentList(rest, true) : std::vector<Value>{};
                expectEnd(rest);
                variables[keyword] = Value::ofInteger(invoke(command, arguments).result);
                return;
            }
            const Value v = line.value(variables);
            expectEnd(line);
            variables[keyword] = v;
            return;
        }
        const Registration* command = host.find(first);
        if (command == nullptr) throw ScriptError{"unknown command " + first};
        const bool parenthesised = line.take('(');
        const std::vector<Value> arguments = argumentList(line, parenthesised);
        expectEnd(line);
        invoke(*command, arguments);
    }

  private:
    PluginHost& host;
    bool trace;
    bool verbose;
    bool unicode;
    std::map<std::string, Value> variables;

    // -v: each call and its result on stderr; for a play that gave 0, why (sidtune's "SidtuneError").
    void describeCall(const Registration& command, const std::vector<Value>& arguments, int32_t result) {
        std::string call = command.name + "(";
        for (size_t i = 0; i < arguments.size(); ++i)
            call += (i != 0 ? ", " : "") + (arguments[i].kind == Value::Text ? "\"" + arguments[i].text + "\""
                                                                             : arguments[i].toString());
        call += ")";
        if (!command.function) {
            std::fprintf(stderr, "%s\n", call.c_str());
            return;
        }
        std::string why;
        const Registration* error = host.find("SidtuneError");
        const bool plays = lower(command.name).find("play") != std::string::npos ||
                           lower(command.name).find("crossfade") != std::string::npos;
        if (result == 0 && plays && error != nullptr && !arguments.empty() &&
            arguments[0].kind == Value::Text) {
            const std::string& file = arguments[0].text;
            std::error_code ignored;
            switch (host.call(*error, {}).result) {
                case 1:
                    why = std::filesystem::exists(sidtune::pathOf(file), ignored) ? file + ": cannot be read"
                                                                                  : file + ": no such file";
                    break;
                case 2: why = file + ": not a PSID tune"; break;
                case 3: why = file + ": an RSID tune, which needs a whole C64"; break;
                case 4: why = file + ": the tune has no such song"; break;
                case 5: why = "no sound output"; break;
                default: break;
            }
        }
        std::fprintf(stderr, "%s = %d%s\n", call.c_str(), result,
                     why.empty() ? "" : ("  (" + why + ")").c_str());
    }

    static void expectEnd(Line& line) {
        if (!line.atEnd()) throw ScriptError{"syntax error: unexpected text at the end of the line"};
    }

    std::vector<Value> argumentList(Line& line, bool parenthesised) {
        std::vector<Value> arguments;
        if (parenthesised ? line.take(')') : line.atEnd()) return arguments;
        for (;;) {
            arguments.push_back(line.value(variables));
            if (line.take(',')) continue;
            if (parenthesised && !line.take(')')) throw ScriptError{"syntax error: ')' expected"};
            return arguments;
        }
    }

    // A Unicode script's string in the host's bytes (on Windows the ANSI code page), as Quenbrix hands
    // a name over; where the code page has no letters for it, said (the plugin will not find it).
    static std::string hostText(const std::string& text) {
        const std::string bytes = sidtune::hostFileName(text);
        const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return uint8_t(c) < 0x80; });
        if (bytes == text && !ascii && sidtune::hostFileName("\xC3\xA9") != "\xC3\xA9")
            std::fprintf(
                stderr,
                "quenbrix-run: \"%s\" has characters the plugin's strings (the ANSI code page) cannot "
                "hold\n",
                text.c_str());
        return bytes;
    }

    // Converts the arguments to the command's parameter types and calls it.
    quenbrix::CallTrace invoke(const Registration& command, std::vector<Value> arguments) {
        if (arguments.size() != command.parameters.size()) {
            throw ScriptError{command.name + " takes " + std::to_string(command.parameters.size()) +
                              " argument" + (command.parameters.size() == 1 ? "" : "s") + ", not " +
                              std::to_string(arguments.size())};
        }
        for (size_t i = 0; i < arguments.size(); ++i) {
            Value& v = arguments[i];
            const int32_t type = command.parameters[i];
            const bool number = v.kind != Value::Text;
            const std::string where = "argument " + std::to_string(i + 1) + " of " + command.name;
            if (type == kQuenbrixString && number) throw ScriptError{where + " must be a string"};
            if (type == kQuenbrixString && unicode) v.text = hostText(v.text);
            if (type != kQuenbrixString && !number) throw ScriptError{where + " must be a number"};
            if (type == kQuenbrixReal && v.kind == Value::Integer) v = Value::ofReal(v.integer);
            if (type == kQuenbrixInteger && v.kind == Value::Real) {
                if (v.real != double(int32_t(v.real))) throw ScriptError{where + " must be a whole number"};
                v = Value::ofInteger(int32_t(v.real));
            }
        }
        if (trace) {
            // The wall clock, which a recorder in another process (or beside Wine) reads too.
            const double now =
                std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
            std::fprintf(stderr, "trace %.4f %s\n", now, command.name.c_str());
        }
        quenbrix::CallTrace done;
        {
            const sidtune::WaitingCall waiting;
            done = host.call(command, arguments);
        }
        if (verbose) describeCall(command, arguments, done.result);
        return done;
    }

    // Sleeps in steps of at most 0.1 s, to see Ctrl-C, and never past the end.
    static void wait(double milliseconds) {
        using Clock = std::chrono::steady_clock;
        const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double, std::milli>(milliseconds));
        for (auto now = Clock::now(); stopSignal() == 0 && now < end; now = Clock::now()) {
            std::this_thread::sleep_until(std::min(end, now + std::chrono::milliseconds(100)));
        }
    }
};

// UTF-16 text (after its byte order mark), big- or little-endian, as UTF-8.
std::string utf8OfUtf16(const std::string& bytes, bool bigEndian) {
    std::string out;
    auto unit = [&](size_t i) {
        const uint8_t a = uint8_t(bytes[i]), b = uint8_t(bytes[i + 1]);
        return bigEndian ? uint32_t(a << 8 | b) : uint32_t(b << 8 | a);
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // half a pair
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
        } else if (c < 0x10000) {
            out += {char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
        } else {
            out += {char(0xF0 | c >> 18), char(0x80 | (c >> 12 & 0x3F)), char(0x80 | (c >> 6 & 0x3F)),
                    char(0x80 | (c & 0x3F))};
        }
    }
    return out;
}

// Whether text is UTF-8 with some character beyond ASCII (a script saved as UTF-8 without a byte
// order mark), rather than bytes of an ANSI code page.
bool unicodeText(const std::string& text) {
    bool beyondAscii = false;
    for (size_t i = 0; i < text.size();) {
        const uint8_t c = uint8_t(text[i]);
        const size_t more = c < 0x80             ? 0
                            : (c & 0xE0) == 0xC0 ? 1
                            : (c & 0xF0) == 0xE0 ? 2
                            : (c & 0xF8) == 0xF0 ? 3
                                                 : 9;
        if (more == 9 || i + more >= text.size() + (more == 0 ? 1 : 0)) return false;
        for (size_t k = 1; k <= more; ++k)
            if ((uint8_t(text[i + k]) & 0xC0) != 0x80) return false;
        beyondAscii |= more != 0;
        i += more + 1;
    }
    return beyondAscii;
}

// The script's lines; false with the reason when it cannot be read. A script saved as UTF-16 (with
// its byte order mark) or UTF-8 (with one or without) is read as Unicode (`unicode`): its strings
// go to the plugin as the host hands names to it (hostFileName). Any other is bytes, handed on as
// they are, as a host reads a script saved in the ANSI code page.
bool readScript(const std::string& path, std::vector<std::string>& lines, bool& unicode, std::string& error) {
    std::error_code ignored;
    if (std::filesystem::is_directory(sidtune::pathOf(path), ignored)) {
        error = path + " is a directory";
        return false;
    }
    std::ifstream in(sidtune::pathOf(path), std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text{std::istreambuf_iterator<char>(in), {}};
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    unicode = true;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        text.erase(0, 3);  // a UTF-8 byte order mark
    } else if (text.rfind("\xFF\xFE", 0) == 0 || text.rfind("\xFE\xFF", 0) == 0) {
        text = utf8OfUtf16(text.substr(2), text[0] == '\xFE');
    } else {
        unicode = unicodeText(text);
    }
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return true;
}

// The host's own account of the plugin: its description and its registrations.
void describePlugin(const PluginHost& host) {
    const quenbrix::QueryAnswer& answer = host.queryAnswer();
    std::fprintf(stderr, "plugin: \"%s\" (%d, %d) -> %d\n", answer.description.c_str(), answer.first,
                 answer.second, answer.result);
    for (const Registration& r : host.registrations()) {
        std::string parameters;
        for (int32_t type : r.parameters)
            parameters += (parameters.empty() ? "" : ", ") + PluginHost::typeName(type);
        if (r.function) {
            std::fprintf(stderr, "registered function %s(%s) as %s\n", r.name.c_str(), parameters.c_str(),
                         PluginHost::typeName(r.resultType).c_str());
        } else {
            std::fprintf(stderr, "registered procedure %s(%s)\n", r.name.c_str(), parameters.c_str());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    sidtune::Utf8Arguments arguments(argc, argv);
    CLI::App app{"quenbrix-run: loads a Quenbrix plugin and runs a script against it"};
    sidtune::prepareCommandLine(app, "quenbrix-run");
    app.footer(kStatements);
    std::string pluginPath = PluginHost::defaultPluginPath();
    std::string scriptPath;
    bool verbose = false;
    app.add_option("--plugin", pluginPath,
                   "The plugin library (default: the one installed with this program)")
        ->type_name("FILE");
    app.add_flag(
        "-v,--verbose", verbose,
        "Describe the plugin and its commands on stderr, and each call with its result (for a play that "
        "gave 0, why)");
    bool trace = false;
    app.add_flag("--trace", trace,
                 "Before each command, print \"trace SECONDS NAME\" on stderr (the wall clock)");
    app.add_option("SCRIPT", scriptPath, "The script to run")->required();
    if (const int code = sidtune::parseCommandLine(app, arguments.count(), arguments.values()); code >= 0)
        return code;

    std::vector<std::string> lines;
    std::string error;
    bool unicode = false;
    if (!readScript(scriptPath, lines, unicode, error)) {
        std::fprintf(stderr, "quenbrix-run: %s\n", error.c_str());
        return 1;
    }

    PluginHost host;
    sidtune::catchStopSignals();
    quenbrix::Started started;
    {
        const sidtune::WaitingCall waiting;  // the plugin's load may wait for a sound server
        started = host.start(pluginPath, error);
    }
    if (started == quenbrix::Started::NotOpened) {
        // Most often a program copied away from the plugin it was installed with.
        std::fprintf(stderr, "quenbrix-run: %s\n(name the plugin with --plugin FILE)\n", error.c_str());
        return 2;
    }
    if (verbose) describePlugin(host);
    if (started == quenbrix::Started::NotLoaded) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }

    Interpreter interpreter(host, trace, verbose, unicode);
    int status = 0;
    for (size_t i = 0; i < lines.size() && stopSignal() == 0; ++i) {
        try {
            interpreter.run(lines[i]);
        } catch (const ScriptError& e) {
            std::fprintf(stderr, "%s:%zu: %s\n", scriptPath.c_str(), i + 1, e.message.c_str());
            status = 1;
            break;
        }
    }
    {
        const sidtune::WaitingCall waiting;
        host.unload();  // a tune that still plays is stopped
    }
    if (stopSignal() != 0) {
        std::fprintf(stderr, "quenbrix-run: stopped by a signal\n");
        status = sidtune::exitCodeFor(stopSignal());
    }
    return status;
}
