// What a Quenbrix host does with a plugin, for the tools, the tests and the benchmarks: load the
// library, query it, take its plugin object, load it with a function registry that records every
// registration, and call its commands through a script runtime.
//
//   quenbrix::PluginHost host;
//   std::string error;
//   if (host.start(path, error) != quenbrix::Started::Yes) ...  open, query, init, load
//   host.queryAnswer();                                       what Quenbrix_Query said
//   host.registrations();                                     the commands, as registered
//   const quenbrix::CallTrace t = host.call("PlaySidtune", {quenbrix::Value::ofText("tune.sid")});
//   t.result;                                                 -1: playing
//   host.unload();
//
// The steps one by one (open, query, init, load) are there too, for the tests of each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/host_interface.h"

namespace quenbrix {

struct Value {
    enum Kind { Integer, Real, Text } kind = Integer;
    int32_t integer = 0;
    double real = 0;
    std::string text;

    static Value ofInteger(int32_t v) { return {Integer, v, 0, {}}; }
    static Value ofReal(double v) { return {Real, 0, v, {}}; }
    static Value ofText(std::string v) { return {Text, 0, 0, std::move(v)}; }
    std::string toString() const;
};

struct Registration {
    std::string name;
    bool function = false;
    int32_t resultType = 0;
    std::vector<int32_t> parameters;  // type codes
    CommandHandler handler = nullptr;
};

// What Quenbrix_Query wrote and returned.
struct QueryAnswer {
    std::string description;
    int32_t first = 0, second = 0, result = 0;
};

// How far start() got.
enum class Started {
    Yes,
    NotOpened,  // the library did not load, or is not a plugin: the error is the loader's reason
    NotLoaded,  // the plugin's load failed: the error is the plugin's own error text
};

// What the plugin asked of the runtime during one call.
struct CallTrace {
    int parameterReads = 0;
    bool hasResult = false;
    int32_t result = 0;
};

class PluginHost {
  public:
    PluginHost();
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // The start-up of every host: open, query, init and load.
    Started start(const std::string& path, std::string& error);
    const QueryAnswer& queryAnswer() const { return answer; }

    // Loads the library and finds both exports; false with a reason otherwise.
    bool open(const std::string& path, std::string& error);
    int32_t query(std::string& description, int32_t& first, int32_t& second);
    PluginObject* init();
    // The plugin's load with a recording registry. On failure the error text, read into a
    // zero-filled buffer.
    bool load(std::string& errorText);
    void unload();
    void close();

    const std::vector<Registration>& registrations() const { return registered; }
    const Registration* find(const std::string& name) const;  // case-insensitive, as BASIC is
    // Calls a command with arguments already of its parameter types.
    CallTrace call(const Registration& command, const std::vector<Value>& arguments);
    // The same by the command's name; a command the plugin did not register is not called and
    // leaves an empty trace.
    CallTrace call(const std::string& name, const std::vector<Value>& arguments = {});
    // The library handle, for tests that look up more symbols.
    void* library() const { return handle; }
    void* symbol(const char* name) const;

    static std::string typeName(int32_t type);
    // The plugin library of the running program: libsidtune.so beside it (the build tree) or in
    // ../lib (an installed tree); sidtune.dll beside it on Windows.
    static std::string defaultPluginPath();

  private:
    void* handle = nullptr;
    QuenbrixQueryFunction queryFunction = nullptr;
    QuenbrixInitFunction initFunction = nullptr;
    PluginObject* plugin = nullptr;
    std::vector<Registration> registered;
    QueryAnswer answer;
};

}  // namespace quenbrix
