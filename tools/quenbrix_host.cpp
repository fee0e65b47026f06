#include "quenbrix_host.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace quenbrix {
namespace {

// The registry handed to the plugin's load: a FunctionRegistry first, then the host's own state.
struct RecordingRegistry {
    FunctionRegistry base;
    std::vector<Registration>* registered;
};

RecordingRegistry* self(FunctionRegistry* r) { return reinterpret_cast<RecordingRegistry*>(r); }

void QUENBRIX_CALL registerProcedure(FunctionRegistry* r, const char* name, CommandHandler handler) {
    self(r)->registered->push_back({name, false, 0, {}, handler});
}

void QUENBRIX_CALL registerFunction(FunctionRegistry* r, const char* name, CommandHandler handler,
                                    int32_t resultType) {
    self(r)->registered->push_back({name, true, resultType, {}, handler});
}

void QUENBRIX_CALL addParameter(FunctionRegistry* r, int32_t type) {
    if (!self(r)->registered->empty()) self(r)->registered->back().parameters.push_back(type);
}

const FunctionRegistryOperations registryOperations = {
    nullptr, nullptr, nullptr, registerProcedure, registerFunction, nullptr,
    nullptr, nullptr, nullptr, nullptr,           nullptr,          addParameter,
};

// The runtime handed to a command handler; parameters are numbered from 1.
struct CallRuntime {
    ScriptRuntime base;
    const std::vector<Value>* arguments;
    CallTrace trace;
};

CallRuntime* self(ScriptRuntime* r) { return reinterpret_cast<CallRuntime*>(r); }

const Value* argument(ScriptRuntime* r, int32_t index) {
    CallRuntime* c = self(r);
    ++c->trace.parameterReads;
    if (index < 1 || size_t(index) > c->arguments->size()) return nullptr;
    return &(*c->arguments)[size_t(index - 1)];
}

float QUENBRIX_CALL getRealParameter(ScriptRuntime* r, int32_t index) {
    const Value* v = argument(r, index);
    if (v == nullptr) return 0.0f;
    return v->kind == Value::Real ? float(v->real) : v->kind == Value::Integer ? float(v->integer) : 0.0f;
}

const char* QUENBRIX_CALL getStringParameter(ScriptRuntime* r, int32_t index) {
    const Value* v = argument(r, index);
    return v != nullptr && v->kind == Value::Text ? v->text.c_str() : "";
}

void QUENBRIX_CALL setIntegerResult(ScriptRuntime* r, int32_t value) {
    self(r)->trace.hasResult = true;
    self(r)->trace.result = value;
}

const ScriptRuntimeOperations runtimeOperations = {nullptr, getRealParameter, getStringParameter,
                                                   setIntegerResult};

}  // namespace

std::string Value::toString() const {
    if (kind == Integer) return std::to_string(integer);
    if (kind == Text) return text;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", real);
    return buffer;
}

PluginHost::PluginHost() = default;

PluginHost::~PluginHost() { close(); }

Started PluginHost::start(const std::string& path, std::string& error) {
    if (!open(path, error)) return Started::NotOpened;
    answer.result = query(answer.description, answer.first, answer.second);
    init();
    return load(error) ? Started::Yes : Started::NotLoaded;
}

bool PluginHost::open(const std::string& path, std::string& error) {
#if defined(_WIN32)
    // The name is UTF-8, as the tools' arguments are.
    std::wstring wide(path.size() + 1, L'\0');
    wide.resize(size_t(MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), int(wide.size()))));
    handle = wide.empty() ? nullptr : LoadLibraryW(wide.c_str());
    if (handle == nullptr) {
        error = "cannot load " + path;
        return false;
    }
#else
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "cannot load " + path;
        return false;
    }
#endif
    queryFunction = reinterpret_cast<QuenbrixQueryFunction>(symbol("Quenbrix_Query"));
    initFunction = reinterpret_cast<QuenbrixInitFunction>(symbol("Quenbrix_Init"));
    if (queryFunction == nullptr || initFunction == nullptr) {
        error = path + " is not a Quenbrix plugin (no Quenbrix_Query or Quenbrix_Init)";
        close();
        return false;
    }
    return true;
}

void* PluginHost::symbol(const char* name) const {
    if (handle == nullptr) return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
#else
    return dlsym(handle, name);
#endif
}

int32_t PluginHost::query(std::string& description, int32_t& first, int32_t& second) {
    char text[256] = {};
    const int32_t result = queryFunction(text, &first, &second);
    description = text;
    return result;
}

PluginObject* PluginHost::init() {
    plugin = initFunction();
    return plugin;
}

bool PluginHost::load(std::string& errorText) {
    if (plugin == nullptr) init();
    registered.clear();
    RecordingRegistry registry{{&registryOperations}, &registered};
    if (plugin->operations->load(plugin, &registry.base) == 1) return true;
    char text[256] = {};  // zero-filled: the plugin writes no terminator
    plugin->operations->getErrorText(plugin, text);
    errorText = text;
    return false;
}

void PluginHost::unload() {
    if (plugin != nullptr) plugin->operations->unload(plugin);
}

void PluginHost::close() {
    if (handle == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle));
#else
    dlclose(handle);
#endif
    handle = nullptr;
    plugin = nullptr;
    queryFunction = nullptr;
    initFunction = nullptr;
}

const Registration* PluginHost::find(const std::string& name) const {
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        return s;
    };
    for (const Registration& r : registered) {
        if (lower(r.name) == lower(name)) return &r;
    }
    return nullptr;
}

CallTrace PluginHost::call(const Registration& command, const std::vector<Value>& arguments) {
    CallRuntime runtime{{&runtimeOperations}, &arguments, {}};
    command.handler(&runtime.base);
    return runtime.trace;
}

CallTrace PluginHost::call(const std::string& name, const std::vector<Value>& arguments) {
    const Registration* command = find(name);
    return command != nullptr ? call(*command, arguments) : CallTrace{};
}

std::string PluginHost::defaultPluginPath() {
#if defined(_WIN32)
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), DWORD(path.size())));
    const std::u8string name = (std::filesystem::path(path).parent_path() / "sidtune.dll").u8string();
    return std::string(name.begin(), name.end());
#else
    std::error_code ignored;
    const std::filesystem::path bin = std::filesystem::canonical("/proc/self/exe", ignored).parent_path();
    // Beside the program in the build tree; where it is installed, in the plugins' folder of the
    // system's libraries (/usr/lib/x86_64-linux-gnu/sidtune/ for /usr/bin/).
    const std::filesystem::path beside = bin / "libsidtune.so", installed = bin / SIDTUNE_INSTALLED_PLUGIN;
    return (std::filesystem::exists(beside, ignored) || !std::filesystem::exists(installed, ignored)
                ? beside
                : installed.lexically_normal())
        .string();
#endif
}

std::string PluginHost::typeName(int32_t type) {
    switch (type) {
        case kQuenbrixInteger: return "integer";
        case kQuenbrixReal: return "real";
        case kQuenbrixString: return "string";
        default: return "type " + std::to_string(type);
    }
}

}  // namespace quenbrix
