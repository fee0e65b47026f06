// quenbrix-run: a small reference host. It loads a Quenbrix plugin as the Quenbrix environment
// does and runs a script against it, one statement a line:
//
//     ' a comment
//     ok = PlaySidtune("music/tune.sid")   ' a registered function; its result goes into a variable
//     Print ok                             ' prints a variable, number or string
//     SetSidVolume 0.5                     ' a registered procedure; arguments separated by commas
//     Wait 1500                            ' milliseconds
//     StopSidtune
//
// Usage: quenbrix-run [--plugin PATH] SCRIPT   (default: the plugin beside this program)
// Exit codes: 0 done, 1 a script error (file:line: message on stderr), 2 the plugin did not load.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "quenbrix_host.h"

namespace {

using quenbrix::PluginHost;
using quenbrix::Registration;
using quenbrix::Value;

std::atomic<bool> interrupted{false};

void onInterrupt(int) { interrupted = true; }

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
            const size_t end = s.find('"', at + 1);
            if (end == std::string::npos) throw ScriptError{"a string is not closed"};
            Value v = Value::ofText(s.substr(at + 1, end - at - 1));
            at = end + 1;
            return v;
        }
        if (std::isdigit(static_cast<unsigned char>(s[at])) || s[at] == '-' || s[at] == '+' || s[at] == '.') {
            const size_t start = at;
            ++at;
            bool real = s[start] == '.';
            while (at < s.size() && (std::isdigit(static_cast<unsigned char>(s[at])) || s[at] == '.')) {
                real |= s[at] == '.';
                ++at;
            }
            const std::string number = s.substr(start, at - start);
            try {
                size_t used = 0;
                if (real) {
                    const double d = std::stod(number, &used);
                    if (used == number.size()) return Value::ofReal(d);
                } else {
                    const long long n = std::stoll(number, &used);
                    if (used == number.size() && n >= INT32_MIN && n <= INT32_MAX)
                        return Value::ofInteger(int32_t(n));
                }
            } catch (...) {
            }
            throw ScriptError{"not a number: " + number};
        }
        const std::string name = identifier();
        if (name.empty()) throw ScriptError{std::string("unexpected '") + s[at] + "'"};
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
    explicit Interpreter(PluginHost& h) : host(h) {}

    // Runs one statement; throws ScriptError.
    void run(const std::string& text) {
        Line line(withoutComment(text));
        if (line.atEnd()) return;
        const std::string first = line.identifier();
        if (first.empty()) throw ScriptError{"syntax error: a statement begins with a name"};
        const std::string keyword = lower(first);
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
            if (v.kind == Value::Text) throw ScriptError{"Wait takes a number of milliseconds"};
            wait(v.kind == Value::Integer ? double(v.integer) : v.real);
            return;
        }
        if (line.take('=')) {
            // variable = Function(arguments), or variable = value
            Line rest = line;
            const std::string name = rest.identifier();
            if (!name.empty() && host.find(name) != nullptr) {
                const Registration& command = *host.find(name);
                if (!command.function) throw ScriptError{command.name + " is a procedure and gives no value"};
                if (!rest.take('(')) throw ScriptError{"syntax error: " + command.name + "(...) expected"};
                const std::vector<Value> arguments = argumentList(rest, true);
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
    std::map<std::string, Value> variables;

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
            if (type != kQuenbrixString && !number) throw ScriptError{where + " must be a number"};
            if (type == kQuenbrixReal && v.kind == Value::Integer) v = Value::ofReal(v.integer);
            if (type == kQuenbrixInteger && v.kind == Value::Real) {
                if (v.real != double(int32_t(v.real))) throw ScriptError{where + " must be a whole number"};
                v = Value::ofInteger(int32_t(v.real));
            }
        }
        return host.call(command, arguments);
    }

    // Sleeps in steps of at most 0.1 s, to see Ctrl-C, and never past the end.
    static void wait(double milliseconds) {
        using Clock = std::chrono::steady_clock;
        const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double, std::milli>(milliseconds));
        for (auto now = Clock::now(); !interrupted && now < end; now = Clock::now()) {
            std::this_thread::sleep_until(std::min(end, now + std::chrono::milliseconds(100)));
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"quenbrix-run: loads a Quenbrix plugin and runs a script against it"};
    app.allow_windows_style_options(false);  // a path such as /tmp/x.qb is not an option
    std::string pluginPath = PluginHost::pluginBesideProgram();
    std::string scriptPath;
    app.add_option("--plugin", pluginPath, "The plugin library (default: the one beside this program)");
    app.add_option("SCRIPT", scriptPath, "The script to run")->required();
    CLI11_PARSE(app, argc, argv);

    std::ifstream script(scriptPath);
    if (!script) {
        std::fprintf(stderr, "quenbrix-run: cannot read %s\n", scriptPath.c_str());
        return 1;
    }

    PluginHost host;
    std::string error;
    const quenbrix::Started started = host.start(pluginPath, error);
    if (started == quenbrix::Started::NotOpened) {
        std::fprintf(stderr, "quenbrix-run: %s\n", error.c_str());
        return 2;
    }
    const quenbrix::QueryAnswer& answer = host.queryAnswer();
    std::printf("plugin: \"%s\" (%d, %d) -> %d\n", answer.description.c_str(), answer.first, answer.second,
                answer.result);
    if (started == quenbrix::Started::NotLoaded) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    for (const Registration& r : host.registrations()) {
        std::string parameters;
        for (int32_t type : r.parameters)
            parameters += (parameters.empty() ? "" : ", ") + PluginHost::typeName(type);
        if (r.function) {
            std::printf("registered function %s(%s) as %s\n", r.name.c_str(), parameters.c_str(),
                        PluginHost::typeName(r.resultType).c_str());
        } else {
            std::printf("registered procedure %s(%s)\n", r.name.c_str(), parameters.c_str());
        }
    }
    std::fflush(stdout);

    std::signal(SIGINT, onInterrupt);
    Interpreter interpreter(host);
    std::string text;
    int lineNumber = 0;
    int status = 0;
    while (!interrupted && std::getline(script, text)) {
        ++lineNumber;
        try {
            interpreter.run(text);
        } catch (const ScriptError& e) {
            std::fprintf(stderr, "%s:%d: %s\n", scriptPath.c_str(), lineNumber, e.message.c_str());
            status = 1;
            break;
        }
    }
    host.unload();
    if (interrupted) {
        std::fprintf(stderr, "quenbrix-run: interrupted\n");
        status = 130;
    }
    return status;
}
