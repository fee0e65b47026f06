// What a Quenbrix host does with a plugin, for the tools and the tests: load the library, query
// it, take its plugin object, load it with a function registry that records every registration,
// and call its commands through a script runtime.
//
//   PluginHost host;
//   if (!host.open(path, error)) ...         dlopen / LoadLibrary, the two exports
//   host.query(...); host.load(errorText);   the registrations are in host.registrations()
//   host.call("PlaySidtune", {Value::text("tune.sid")}, result);
//   host.unload();
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
    // The library handle, for tests that look up more symbols.
    void* library() const { return handle; }
    void* symbol(const char* name) const;

    static std::string typeName(int32_t type);
    // The plugin library beside the running program: libsidtune.so, or sidtune.dll on Windows.
    static std::string pluginBesideProgram();

  private:
    void* handle = nullptr;
    QuenbrixQueryFunction queryFunction = nullptr;
    QuenbrixInitFunction initFunction = nullptr;
    PluginObject* plugin = nullptr;
    std::vector<Registration> registered;
};

}  // namespace quenbrix
