// The contract between the Quenbrix host and a plugin, as this plugin relies on it.
//
// The host loads the plugin library and calls its two exports:
//
//   int32_t Quenbrix_Query(char* text, int32_t* first, int32_t* second)
//       writes the description "for Quenbrix" (13 bytes with the zero), 0 and 1; returns 3
//   PluginObject* Quenbrix_Init()
//       the plugin object: a table of nine operations, called with the object itself first
//
// The host's two interfaces are objects too: each begins with a pointer to a table of operations,
// and every operation receives the object itself as its first argument. Positions count from 1;
// the plugin uses only the named ones:
//
//   FunctionRegistry (handed to load):
//     4  registerProcedure(registry, name, handler)
//     5  registerFunction(registry, name, handler, resultType)
//     12 addParameter(registry, type)          a parameter of the command registered last
//   ScriptRuntime (handed to each command handler):
//     2  getRealParameter(runtime, index)      -> float; the first parameter is index 1
//     3  getStringParameter(runtime, index)    -> zero-terminated text, valid until the handler returns
//     4  setIntegerResult(runtime, value)
//
// Type codes: 0 integer, 1 real, 2 string. Texts are plain zero-terminated bytes, no code page.
//
// Calling convention. The Quenbrix host is a 32-bit Windows program, and on 32-bit x86 the
// convention is part of the contract: the two exports, the plugin object's nine operations and the
// operations of the host's two tables all use the C convention (cdecl: arguments pushed right to
// left, and the caller removes them). That is the one the host's contract allows: "arguments that
// the host passes beyond those listed are ignored" is only safe when the caller removes them, as a
// function that removed them itself (stdcall) would remove the wrong number. QUENBRIX_CALL marks
// every such function and pointer; it means nothing where there is one convention (64-bit, Linux).
// The exports keep their undecorated names (Quenbrix_Query, not _Quenbrix_Query@12).
#pragma once

#include <cstdint>

#if defined(_WIN32) && defined(__i386__)
#define QUENBRIX_CALL __cdecl
#else
#define QUENBRIX_CALL
#endif

extern "C" {

enum QuenbrixType : int32_t {
    kQuenbrixInteger = 0,
    kQuenbrixReal = 1,
    kQuenbrixString = 2,
};

struct ScriptRuntime;
struct FunctionRegistry;
struct PluginObject;

typedef void(QUENBRIX_CALL* CommandHandler)(ScriptRuntime* runtime);

struct ScriptRuntimeOperations {
    void* operation1;  // not used by the plugin
    float(QUENBRIX_CALL* getRealParameter)(ScriptRuntime* runtime, int32_t index);
    const char*(QUENBRIX_CALL* getStringParameter)(ScriptRuntime* runtime, int32_t index);
    void(QUENBRIX_CALL* setIntegerResult)(ScriptRuntime* runtime, int32_t value);
};

struct ScriptRuntime {
    const ScriptRuntimeOperations* operations;
};

struct FunctionRegistryOperations {
    void* operation1;  // positions 1-3 and 6-11 are not used by the plugin
    void* operation2;
    void* operation3;
    void(QUENBRIX_CALL* registerProcedure)(FunctionRegistry* registry, const char* name,
                                           CommandHandler handler);
    void(QUENBRIX_CALL* registerFunction)(FunctionRegistry* registry, const char* name,
                                          CommandHandler handler, int32_t resultType);
    void* operation6;
    void* operation7;
    void* operation8;
    void* operation9;
    void* operation10;
    void* operation11;
    void(QUENBRIX_CALL* addParameter)(FunctionRegistry* registry, int32_t type);
};

struct FunctionRegistry {
    const FunctionRegistryOperations* operations;
};

// The plugin object's nine operations, in their positions.
struct PluginOperations {
    int32_t(QUENBRIX_CALL* load)(PluginObject* plugin, FunctionRegistry* registry);  // 1 loaded, 0 failed
    void(QUENBRIX_CALL* unload)(PluginObject* plugin);
    int32_t(QUENBRIX_CALL* operation3)(PluginObject* plugin);  // answers 1
    void(QUENBRIX_CALL* operation4)(PluginObject* plugin);     // 4 to 7: nothing
    void(QUENBRIX_CALL* operation5)(PluginObject* plugin);
    void(QUENBRIX_CALL* operation6)(PluginObject* plugin);
    void(QUENBRIX_CALL* operation7)(PluginObject* plugin);
    void(QUENBRIX_CALL* getErrorText)(PluginObject* plugin, char* text);  // no terminator is written
    void(QUENBRIX_CALL* operation9)(PluginObject* plugin);                // nothing
};

struct PluginObject {
    const PluginOperations* operations;
};

typedef int32_t(QUENBRIX_CALL* QuenbrixQueryFunction)(char* text, int32_t* first, int32_t* second);
typedef PluginObject*(QUENBRIX_CALL* QuenbrixInitFunction)();

}  // extern "C"
